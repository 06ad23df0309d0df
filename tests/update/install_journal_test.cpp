// The install's journal as the next try reads it: what was written whole,
// whatever names it holds; a line a kill cut short, or one that is not as
// written, ends it; anything else at its name, or a step that would lead out
// of its folder, is none of ours.
#include "update/install_journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fixtures/look_hook.h"
#include "fixtures/zip_builder.h"
#include "update/take_back.h"

namespace {

namespace fs = std::filesystem;
using update::Journal;
using update::Role;
using update::Root;
using update::Step;

TEST(InstallJournal, ReadsBackWhatWasWrittenWholeAndNothingElse) {
  fixtures::TempDir dir;
  int error = 0;
  const platform::OpenFolderRef kept =
      platform::OpenFolder::Open(AT_FDCWD, dir.path().c_str(), 0, error);
  ASSERT_TRUE(kept);
  const Step odd{Role::Aside,
                 {Root::Program, "a b/%41\n\xC3\xA9"},
                 {Root::Kept, "a b/%41\n\xC3\xA9"},
                 {1, 2, S_IFREG, 3, 4}};
  const Step trashed{Role::Trashed, {Root::Kept, "x"}, {Root::Trash, ""}, {5, 6, S_IFDIR, 0, 0}};
  {
    const auto journal = Journal::Create(kept->fd(), "j", "/home/u/Trash");
    ASSERT_TRUE(journal && journal->Record(odd) && journal->Record(trashed));
  }
  const std::string whole = fixtures::ReadFile(dir / "j");
  const std::size_t last = whole.rfind('\n', whole.size() - 2) + 1;
  struct Case {
    const char* what;
    std::string bytes;
    std::size_t steps;  // or the errno value Read fails with, as a negative number
  };
  std::string badCrc = whole;
  badCrc[last + 5] ^= 1;
  {
    const auto journal = Journal::Create(kept->fd(), "climbing", "/home/u/Trash");
    ASSERT_TRUE(
        journal &&
        journal->Record({Role::In, {Root::Staging, "x"}, {Root::Program, "a/../../x"}, odd.id}));
  }
  const std::string climbing = fixtures::ReadFile(dir / "climbing");
  const Case cases[] = {
      {"as written", whole, 2},
      {"the last line cut short", whole.substr(0, whole.size() - 3), 1},
      {"the last line not as written", badCrc, 1},
      {"ended before its first line was whole", whole.substr(0, 4), 0},
      {"no journal at all", "PK\3\4", static_cast<std::size_t>(-EBADMSG)},
      {"a step that climbs out of its folder", climbing, static_cast<std::size_t>(-EBADMSG)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fixtures::WriteFile(dir / "read", c.bytes);
    errno = 0;
    const auto read = Journal::Read(kept->fd(), "read");
    if (static_cast<std::ptrdiff_t>(c.steps) < 0) {
      EXPECT_FALSE(read);
      EXPECT_EQ(errno, -static_cast<std::ptrdiff_t>(c.steps));
      continue;
    }
    ASSERT_TRUE(read);
    ASSERT_EQ(read->steps.size(), c.steps);
    EXPECT_EQ(read->trash, c.steps > 0 ? "/home/u/Trash" : "");
    if (c.steps > 0) {
      EXPECT_EQ(read->steps[0].from, odd.from);
      EXPECT_EQ(read->steps[0].id, odd.id);
    }
    if (c.steps > 1) {
      EXPECT_EQ(read->steps[1].to, trashed.to);
    }
  }
  fs::remove(dir / "read");
  EXPECT_FALSE(Journal::Read(kept->fd(), "read"));
  EXPECT_EQ(errno, ENOENT);
}

// What went to the Trash and cannot be looked at there may well be there:
// it is not taken for lost, and the reason says why.
TEST(InstallJournal, AnItemTheTrashMayHoldIsNotTakenForLost) {
  fixtures::TempDir dir;
  fs::create_directories(dir / "Programs" / ".kept");
  fs::create_directories(dir / "Trash" / "files");
  fixtures::WriteFile(dir / "Trash" / "files" / "notes.txt", "old notes");
  platform::Looked st{};
  ASSERT_TRUE(platform::LookAt(AT_FDCWD, (dir / "Trash" / "files" / "notes.txt").c_str(), st, 0));
  update::JournalContents journal;
  journal.trash = (dir / "Trash").string();
  journal.steps = {
      {Role::Trashed, {Root::Kept, "notes.txt"}, {Root::Trash, ""}, platform::ItemId::Of(st)}};
  int error = 0;
  const platform::OpenFolderRef program =
      platform::OpenFolder::Open(AT_FDCWD, (dir / "Programs").c_str(), 0, error);
  ASSERT_TRUE(program);
  fixtures::lookFails = [](int, const char* name) {
    return std::string(name) == "notes.txt" ? EIO : 0;
  };
  const update::TakenBack taken =
      update::TakeBack({program->fd(), ".staging", ".kept"}, journal, [] { return true; });
  fixtures::lookFails = nullptr;
  ASSERT_EQ(taken.left.size(), 1u);
  EXPECT_EQ(taken.left[0].where, update::Stands::Moved);
  EXPECT_EQ(taken.error, EIO);
  EXPECT_EQ(fixtures::ReadFile(dir / "Trash" / "files" / "notes.txt"), "old notes");
}

}  // namespace
