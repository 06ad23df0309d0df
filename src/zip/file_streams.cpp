#include "zip/file_streams.h"

#include <algorithm>

#include "platform/framework_exceptions.h"
#include "platform/made_items.h"

namespace zip {

std::string FileReader::Read(std::int32_t count) {
  if (!bs) throw platform::RuntimeException();
  return count > 0 ? bs->Read(static_cast<std::size_t>(count)) : std::string();
}

bool FileReader::Open() {
  if (bs) return true;
  bs = f.OpenAsBinaryFile(false);
  error = bs == nullptr;
  return !error;
}

void FileReader::GetErrorDescription(std::int32_t& code, std::string& text) {
  code = error ? -1 : 0;
  text = error ? "open or read error" : "";
}

bool FileReader::Skip(std::int32_t count) {
  if (!bs) throw platform::RuntimeException();
  const std::int64_t target = bs->Position() + count;
  bs->SetPosition(std::min(target, bs->Length()));
  if (bs->Position() != target) error = true;
  return !error;
}

bool FileWriter::Write(std::string_view data) {
  if (!bs) throw platform::RuntimeException();
  written += static_cast<std::int64_t>(data.size());
  bs->Write(data);
  return true;
}

bool FileWriter::Open() {
  if (bs) return true;
  bs = f.Exists() ? f.OpenAsBinaryFile(true) : f.CreateBinaryFile("");
  if (bs) bs->SetLength(0);
  error = bs == nullptr || bs->Length() != 0;
  return !error;
}

// A write that did not reach the file leaves it shorter than it should be.
// The same look notes the file as made, for a job that records what it makes.
bool FileWriter::LengthAsWritten() {
  platform::Looked st{};
  if (!bs->Look(st) || st.st_size != written || bs->WriteError()) error = true;
  if (!error) platform::NoteMade(st);
  return !error;
}

bool FileWriter::Close() {
  if (!bs) return true;
  LengthAsWritten();
  bs.reset();
  return !error;
}

bool FileWriter::Flush() {
  if (!bs) throw platform::RuntimeException();
  return LengthAsWritten();
}

void FileWriter::GetErrorDescription(std::int32_t& code, std::string& text) {
  code = error ? -1 : 0;
  text = error ? "open or write error" : "";
}

bool FileWriter::Skip(std::int32_t count) {
  if (!bs) throw platform::RuntimeException();
  written += count;
  if (bs->Length() < written && !bs->SetLength(written)) error = true;
  return true;
}

}  // namespace zip
