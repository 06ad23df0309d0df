// Runs the layout loader's fuzz entry over a seed corpus made here: whole
// files of each version, every prefix of them, and single-byte changes.
#include <gtest/gtest.h>

#include <vector>

#include "editor/layout_fuzz_entry.h"
#include "editor/layout_samples.h"

namespace {

std::vector<std::string> SeedCorpus() {
  std::vector<std::string> whole;
  whole.push_back(editor::EncodeLayout(layout_samples::DefaultWindow()));
  whole.push_back(editor::EncodeLayout(layout_samples::Changed()));
  for (int version : {1, 2, 0x80}) {
    std::string old = editor::EncodeLayout(layout_samples::Changed());
    old[0] = static_cast<char>(version);
    whole.push_back(old);
  }
  std::vector<std::string> corpus;
  for (const auto& file : whole) {
    for (std::size_t n = 0; n <= file.size(); ++n) corpus.push_back(file.substr(0, n));
    // Every byte flipped in turn: length bytes that overrun, odd versions.
    for (std::size_t i = 0; i < file.size(); ++i) {
      std::string mutated = file;
      mutated[i] = static_cast<char>(~mutated[i]);
      corpus.push_back(mutated);
    }
  }
  corpus.push_back(std::string(40000, '\xFF'));
  return corpus;
}

TEST(LayoutFuzz, SeedCorpusKeepsEveryRule) {
  const auto corpus = SeedCorpus();
  ASSERT_GT(corpus.size(), 3000u);
  for (const auto& input : corpus) {
    // Aborts (and so fails the test) when a rule is broken.
    EXPECT_EQ(FuzzLayoutLoader(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()),
              0);
  }
}

}  // namespace
