// Writes the seed corpus of the archive fuzzer: archives from our record
// builder covering the shapes the reader knows, and a few made by Info-ZIP
// and Python's zipfile when those are installed.
#include <cstdio>
#include <filesystem>
#include <string>

#include "fixtures/zip_builder.h"
#include "zip/zip_archive.h"

using fixtures::RawArchive;
using fixtures::RawMember;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::filesystem::remove_all(out);
  std::filesystem::create_directories(out);
  const std::string ux = fixtures::UnixType1Block(1600000000, 1600000100);

  RawArchive plain;
  plain.members.push_back(fixtures::With(fixtures::Member("dir/"), [&](fixtures::RawMember& m) {
    m.time = 0x6db9;
    m.date = 0x52cf;
  }));
  plain.members.push_back(fixtures::With(fixtures::Member("dir/a:b.txt", "hello"),
                                         [&](fixtures::RawMember& m) { m.comment = "c"; }));
  plain.comment = "archive comment";
  fixtures::WriteFile(out / "plain.zip", plain.Build());

  RawArchive mac;
  mac.members.push_back(fixtures::Member(
      "Read Me", "text", std::string("\x05\x26\x14\x00ZPIT\x07Read Me", 12) + "TEXTttxt"));
  mac.members.push_back(
      fixtures::Member("short", "", std::string("\x05\x27\x0c\x00ZPIT", 8) + "APPLVnt2"));
  fixtures::WriteFile(out / "mac.zip", mac.Build());

  RawArchive ditto;
  ditto.members.push_back(fixtures::Member("dir/"));
  ditto.members.push_back(fixtures::Member("dir/file", "data"));
  ditto.members.push_back(fixtures::Member("__MACOSX/", "", ux));
  ditto.members.push_back(fixtures::Member("__MACOSX/dir/", "", ux));
  ditto.members.push_back(fixtures::Member("__MACOSX/dir/._file", "ad", ux));
  ditto.members.push_back(fixtures::Member("._dir", "", ux));
  fixtures::WriteFile(out / "ditto.zip", ditto.Build());

  RawArchive fake;
  fake.members.push_back(fixtures::With(fixtures::Member("x"), [&](fixtures::RawMember& m) {
    m.flags = 0x8008;
    m.localFlags = 0x8000;
  }));
  fake.members.push_back(
      fixtures::With(fixtures::Member("y"), [&](fixtures::RawMember& m) { m.localOffset = 0; }));
  fake.entriesOnDisk = 1;
  fixtures::WriteFile(out / "overcount.zip", fake.Build());

  // Members to extract: deflated, MacBinary, an AppleDouble pair, a link
  // and a member through it, names that climb.
  zip::ZipArchive maker;
  const auto header =
      maker.MakeMacBinaryHeader(4, 3, "Tool", "APPL", "Vnta", std::nullopt, std::nullopt);
  std::string info = "TYPECRTR" + std::string(24, '\0');
  RawArchive extract;
  extract.members.push_back(fixtures::Deflated("deflated.txt", std::string(200, 'd')));
  extract.members.push_back(fixtures::Member(
      "tool", header->Bytes() + "code" + std::string(124, '\0') + "rsc" + std::string(125, '\0')));
  extract.members.push_back(fixtures::Member("pair", "data"));
  extract.members.push_back(fixtures::Member(
      "._pair", fixtures::AppleDoubleHeader({{9, 50, 32}, {2, 82, 4}}) + info + "RSRC", ux));
  extract.members.push_back(fixtures::With(fixtures::Member("ln", "../.."), [](RawMember& m) {
    m.hostSystem = 3;
    m.externalAttributes = 0120777u << 16;
  }));
  extract.members.push_back(fixtures::Member("ln/x", "through"));
  extract.members.push_back(fixtures::Member("a/../../up", "up"));
  extract.members.push_back(fixtures::Member("escape/x", "out"));
  fixtures::WriteFile(out / "extract.zip", extract.Build());

  // Folder members that name the root, with Mac metadata for it.
  const auto dated = maker.MakeMacBinaryHeader(0, 0, "Root", "TEXT", "ttxt",
                                               platform::Date::FromFields(2001, 1, 1, 0, 0, 0),
                                               platform::Date::FromFields(2011, 1, 1, 0, 0, 0));
  RawArchive root;
  root.members.push_back(fixtures::Member("/", dated->Bytes()));
  root.members.push_back(fixtures::Member("a/../", dated->Bytes()));
  fixtures::WriteFile(out / "root.zip", root.Build());

  // Two records share one header with a data descriptor; the first gives
  // it another member's sizes. The comment brings the size to a multiple of
  // three, so that the compaction step removes the first member and moves
  // the shared header.
  RawArchive shared;
  shared.members.push_back(fixtures::Member("gap", "gg"));
  shared.members.push_back(fixtures::With(fixtures::Member("other", "oth"), [](RawMember& m) {
    m.flags = 8;
    m.localOffset = (30 + 3 + 2) + (30 + 5 + 3);
  }));
  shared.members.push_back(
      fixtures::With(fixtures::Member("hello", "hello"), [](RawMember& m) { m.flags = 8; }));
  while (shared.Build().size() % 3 != 0) shared.comment += 'c';
  fixtures::WriteFile(out / "shared-header.zip", shared.Build());

  // A duplicate's record names the last member's header under a longer
  // name, and the duplicate's own header is a gap before the directory. The
  // comment brings the size to a multiple of three, so that the compaction
  // step removes the first member and the shared header ends right at the
  // rewritten directory.
  RawArchive duplicate;
  duplicate.members.push_back(fixtures::Member("a", "aa"));
  duplicate.members.push_back(fixtures::Member("b", "bb"));
  duplicate.members.push_back(
      fixtures::With(fixtures::Member("b, under a longer name", "bb"), [](RawMember& m) {
        m.flags = 8;
        m.localOffset = 30 + 1 + 2;
      }));
  while (duplicate.Build().size() % 3 != 0) duplicate.comment += 'c';
  fixtures::WriteFile(out / "duplicate-last.zip", duplicate.Build());

  // End records that are not the archive's own: one quoted in the comment,
  // and one followed by bytes, so that no record fits the file.
  RawArchive quoted = plain;
  quoted.comment = fixtures::EndRecord(0, 0, 0, 0, 0, 0, 0);
  fixtures::WriteFile(out / "quoted-end.zip", quoted.Build());
  RawArchive trailing = plain;
  trailing.afterEnd = "trailing";
  fixtures::WriteFile(out / "trailing.zip", trailing.Build());

  // The count left to zip64 records.
  RawArchive zip64 = plain;
  zip64.zip64.emplace();
  zip64.entriesOnDisk = zip64.entriesTotal = 0xFFFF;
  fixtures::WriteFile(out / "zip64.zip", zip64.Build());

  fixtures::TempDir work;
  fixtures::WriteFile(work / "a.txt", std::string(300, 'a'));
  fixtures::Run("cd " + fixtures::Quote(work.path()) +
                " && zip -q -z info.zip a.txt < a.txt >/dev/null 2>&1");
  fixtures::Run("python3 " + fixtures::Quote(fixtures::PythonArchiveScript()) + " ditto " +
                fixtures::Quote(work / "py.zip") + " >/dev/null 2>&1");
  std::error_code ec;
  std::filesystem::copy_file(work / "info.zip", out / "infozip.zip", ec);
  std::filesystem::copy_file(work / "py.zip", out / "python-ditto.zip", ec);
  return 0;
}
