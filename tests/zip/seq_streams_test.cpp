// The sequential streams over data forks and resource forks: what Open,
// Close and the transfers promise, and that a failure is reported and never
// leaves a fork or sidecar half-written.
#include <gtest/gtest.h>

#include "platform/framework_exceptions.h"
#include "zip/file_streams.h"
#include "zip/rsrc_fork_streams.h"
#include "zip_test_util.h"

namespace {

using platform::FolderItem;
using platform::RuntimeException;
using namespace zip;

template <class Stream>
std::string Description(Stream& s) {
  std::int32_t code = 99;
  std::string text = "x";
  s.GetErrorDescription(code, text);
  return std::to_string(code) + " " + text;
}

class SeqStreamsTest : public ::testing::Test {
 protected:
  FolderItem Item(const std::string& name) const { return FolderItem(dir_ / name); }
  std::string ForkOf(const std::string& name) const {
    RsrcForkReader r(Item(name));
    std::string all;
    if (!r.Open()) return "(cannot open)";
    for (std::string got; !(got = r.Read(1000)).empty();) all += got;
    return all;
  }
  fixtures::TempDir dir_;
};

TEST_F(SeqStreamsTest, FileStreamsWriteReadSkipAndReportFailures) {
  fixtures::WriteFile(dir_ / "f", "old contents that are long");
  FileWriter w(Item("f"));
  EXPECT_TRUE(w.Close());  // never opened
  ASSERT_TRUE(w.Open());
  EXPECT_EQ(fixtures::ReadFile(dir_ / "f"), "");
  EXPECT_TRUE(w.Write("abc"));
  EXPECT_TRUE(w.Open());  // no second truncation
  EXPECT_TRUE(w.Write("defghij") && w.Flush() && w.Close());
  EXPECT_EQ(Description(w), "0 ");

  FileReader r(Item("f"));
  EXPECT_TRUE(r.Eof());  // never opened
  ASSERT_TRUE(r.Open());
  EXPECT_EQ(r.Read(2), "ab");
  EXPECT_TRUE(r.Skip(3));
  EXPECT_EQ(r.Read(3), "fgh");
  EXPECT_FALSE(r.Skip(1000));  // stops at the end
  EXPECT_EQ(r.Read(5), "");
  EXPECT_TRUE(r.Eof());
  FileReader missing(Item("missing"));
  EXPECT_FALSE(missing.Open());
  EXPECT_EQ(Description(missing), "-1 open or read error");
  missing.ClearError();
  EXPECT_EQ(Description(missing), "0 ");

  // A full disk shows only in the length, at Flush or at Close.
  for (const bool flush : {true, false}) {
    SCOPED_TRACE(flush);
    FileWriter full(Item("full"));
    {
      ziptest::FileSizeLimit limit(100);
      ASSERT_TRUE(full.Open());
      EXPECT_TRUE(full.Write(std::string(5000, 'z')));
      EXPECT_TRUE(!flush || !full.Flush());
      EXPECT_FALSE(full.Close());
    }
    EXPECT_EQ(Description(full), "-1 open or write error");
  }

  std::filesystem::create_symlink(dir_ / "f", dir_ / "link");
  EXPECT_FALSE(FileWriter(Item("link")).Open());
  EXPECT_EQ(fixtures::ReadFile(dir_ / "f"), "abcdefghij");
}

TEST_F(SeqStreamsTest, ClosedStreamsRaiseOnUse) {
  FileReader fr(Item("f"));
  FileWriter fw(Item("f"));
  RsrcForkReader rr(Item("f"));
  RsrcForkWriter rw(Item("f"));
  EXPECT_THROW(fr.Read(1), RuntimeException);
  EXPECT_THROW(fr.Skip(1), RuntimeException);
  EXPECT_THROW(fw.Write("x"), RuntimeException);
  EXPECT_THROW(fw.Flush(), RuntimeException);
  EXPECT_THROW(fw.Skip(1), RuntimeException);
  EXPECT_THROW(rr.Read(1), RuntimeException);
  EXPECT_THROW(rw.Write("x"), RuntimeException);
  EXPECT_THROW(rw.Flush(), RuntimeException);
}

TEST_F(SeqStreamsTest, ResourceForksRoundTripBesideTheOtherMetadataOrStayAsTheyWere) {
  fixtures::WriteFile(dir_ / "app", "data fork");
  ASSERT_TRUE(Item("app").SetMacType("APPL"));
  EXPECT_EQ(ForkOf("app"), "");  // no fork yet: empty, not an error

  const std::string fork = std::string(40000, 'R') + "end";
  RsrcForkWriter w(Item("app"));
  ASSERT_TRUE(w.Open());
  for (std::size_t at = 0; at < fork.size(); at += 16384)
    ASSERT_TRUE(w.Write(fork.substr(at, 16384)));
  EXPECT_TRUE(w.Flush() && w.Open() && w.Close());
  EXPECT_EQ(ForkOf("app"), fork);
  EXPECT_EQ(Item("app").MacType(), "APPL");
  EXPECT_EQ(fixtures::ReadFile(dir_ / "app"), "data fork");

  RsrcForkReader r(Item("app"));
  ASSERT_TRUE(r.Open());
  EXPECT_TRUE(r.Skip(39990));
  EXPECT_EQ(r.Read(100), std::string(10, 'R') + "end");
  EXPECT_TRUE(r.Eof());
  EXPECT_FALSE(r.Skip(1));
  EXPECT_FALSE(r.HadError());

  // A write that fails leaves the old fork and sidecar, and no scratch file.
  const std::string sidecar = fixtures::ReadFile(dir_ / "._app");
  RsrcForkWriter failing(Item("app"));
  ASSERT_TRUE(failing.Open());
  {
    ziptest::FileSizeLimit limit(1000);
    EXPECT_FALSE(failing.Write(std::string(5000, 'n')));
  }
  EXPECT_FALSE(failing.Write("more"));
  EXPECT_EQ(Description(failing), std::to_string(mac_result::kIOError) + " open or write error");
  EXPECT_FALSE(failing.Close());
  EXPECT_EQ(fixtures::ReadFile(dir_ / "._app"), sidecar);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                          std::filesystem::directory_iterator()),
            2);

  // An empty fork removes the fork and keeps the rest.
  RsrcForkWriter empty(Item("app"));
  EXPECT_TRUE(empty.Open() && empty.Close());
  EXPECT_EQ(Item("app").ResourceForkLength(), 0);
  EXPECT_EQ(Item("app").MacType(), "APPL");
}

TEST_F(SeqStreamsTest, ForkStreamsRefuseMissingFilesAndForeignOrLyingSidecars) {
  RsrcForkWriter missing(Item("missing"));
  EXPECT_FALSE(missing.Open());
  EXPECT_EQ(Description(missing), "-43 open or write error");
  RsrcForkReader missingReader(Item("missing"));
  EXPECT_FALSE(missingReader.Open());
  EXPECT_EQ(Description(missingReader), "-43 open or read error (-43)");

  fixtures::WriteFile(dir_ / "x", "x");
  fixtures::WriteFile(dir_ / "._x", "someone's notes");
  EXPECT_FALSE(RsrcForkWriter(Item("x")).Open());
  EXPECT_EQ(fixtures::ReadFile(dir_ / "._x"), "someone's notes");
  EXPECT_EQ(ForkOf("x"), "");

  // A sidecar whose fork is said to run past its end, by far or by a single
  // byte, is not read from.
  for (const auto& [length, fork] : {std::pair{5000u, "short"}, {5u, "four"}}) {
    SCOPED_TRACE(length);
    fixtures::WriteFile(dir_ / "._x", fixtures::AppleDoubleHeader({{2, 38, length}}) + fork);
    EXPECT_EQ(ForkOf("x"), "");
    EXPECT_EQ(Item("x").ResourceForkLength(), 0);
  }
}

}  // namespace
