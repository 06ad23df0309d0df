// Runs the fuzz entry point over every file of a corpus folder, and over
// simple mutations of each: every shorter length and single damaged bytes in
// the tail, where the directory and the end record live. Any crash, sanitizer
// report or exception escaping the entry point fails the test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Feed(const std::string& bytes) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  int files = 0;
  long runs = 0;
  for (const auto& item : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream f(item.path(), std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    const std::string seed = s.str();
    ++files;
    Feed(seed);
    ++runs;
    const std::size_t step = seed.size() > 4096 ? seed.size() / 512 : 1;
    for (std::size_t n = 0; n < seed.size(); n += step, ++runs) Feed(seed.substr(0, n));
    const std::size_t tail = seed.size() > 300 ? seed.size() - 300 : 0;
    for (std::size_t i = tail; i < seed.size(); ++i) {
      for (unsigned char x : {0x01, 0x80, 0xFF}) {
        std::string m = seed;
        m[i] = static_cast<char>(m[i] ^ x);
        Feed(m);
        ++runs;
      }
    }
  }
  std::printf("%d seeds, %ld runs\n", files, runs);
  return files > 0 ? 0 : 1;
}
