#include "update/take_back.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <set>
#include <utility>

#include "platform/folder_tree.h"

namespace update {

using platform::ItemAt;
using platform::ItemId;
using platform::OpenFolderRef;

namespace {

struct Split {
  std::vector<std::string> folders;
  std::string name;
};

Split SplitPath(const std::string& path) {
  Split s;
  std::size_t at = 0;
  for (std::size_t slash; (slash = path.find('/', at)) != std::string::npos; at = slash + 1) {
    s.folders.push_back(path.substr(at, slash - at));
  }
  s.name = path.substr(at);
  return s;
}

class Places {
 public:
  Places(const JournalFolders& folders, const JournalContents& journal)
      : folders_(folders), journal_(journal) {}

  // The folder that holds `spot`'s item, reached never through a link; with
  // `make`, the folders missing on its way are made (the staging folder for
  // this user alone). Null with errno's value when it cannot be reached.
  OpenFolderRef HolderOf(const Spot& spot, bool make) const {
    OpenFolderRef at = RootOf(spot.root, make);
    for (const std::string& name : SplitPath(spot.path).folders) {
      if (!at) return nullptr;
      at = platform::OpenOrMakeFolder(at->fd(), name, make);
    }
    return at;
  }

  // The Trash's folder `name` ("files" or "info").
  OpenFolderRef InTrash(const char* name) const {
    int error = 0;
    const OpenFolderRef trash =
        platform::OpenFolder::Open(AT_FDCWD, journal_.trash.c_str(), O_NOFOLLOW, error);
    if (!trash) {
      errno = error;
      return nullptr;
    }
    return platform::OpenOrMakeFolder(trash->fd(), name, false);
  }

 private:
  OpenFolderRef RootOf(Root root, bool make) const {
    int error = 0;
    OpenFolderRef at;
    switch (root) {
      case Root::Program:
        at = platform::OpenFolder::Open(folders_.program, ".", 0, error);
        break;
      case Root::Staging:
        at = platform::OpenOrMakeFolder(folders_.program, folders_.staging, false);
        if (!at && errno == ENOENT && make) {
          at = platform::OpenFolder::Make(folders_.program, folders_.staging.c_str(), 0700, error);
        }
        return at;
      case Root::Kept:
        return platform::OpenOrMakeFolder(folders_.program, folders_.kept, false);
      case Root::Trash:
        return InTrash("files");
    }
    if (!at) errno = error;
    return at;
  }

  const JournalFolders& folders_;
  const JournalContents& journal_;
};

// What stands at `name` in `folder` is the item `id`: true; not there (or
// another item): false with errno 0 (or ENOENT); could not be looked at:
// false with errno's value.
bool Holds(const OpenFolderRef& folder, const std::string& name, const ItemId& id) {
  platform::Looked st{};
  if (!folder || !platform::LookAt(folder->fd(), name, st)) return false;
  if (platform::ItemId::Of(st) == id) return true;
  errno = 0;
  return false;
}

// The name in the Trash's `files` of the item `id`, which bore the name
// `name` as it went there (the Trash may have numbered it); none with
// errno's value when it is not found there.
std::optional<std::string> FindInTrash(const OpenFolderRef& files, const std::string& name,
                                       const ItemId& id) {
  if (!files) return std::nullopt;
  const std::optional<std::vector<std::string>> names = platform::FolderNames(files->fd());
  if (!names) return std::nullopt;
  for (const std::string& there : *names) {
    if (there.rfind(name, 0) == 0 && Holds(files, there, id)) return there;
    if (errno != 0 && errno != ENOENT) return std::nullopt;
  }
  errno = ENOENT;
  return std::nullopt;
}

class Taking {
 public:
  Taking(const JournalFolders& folders, const JournalContents& journal,
         const std::function<bool()>& beforeMove)
      : places_(folders, journal), beforeMove_(beforeMove) {}

  // Where the item of `step` stands once it has been taken back, or tried.
  Stands Back(const Step& step, int& error) {
    error = 0;
    const Split from = SplitPath(step.from.path);
    std::string name = SplitPath(step.to.path).name;
    OpenFolderRef to = places_.HolderOf(step.to, false);
    bool there = false;
    if (step.role == Role::Trashed) {
      const std::optional<std::string> found = FindInTrash(to, from.name, step.id);
      there = found.has_value();
      if (there) name = *found;
    } else {
      there = Holds(to, name, step.id);
    }
    if (!there) {
      // Where the step's item could not be looked for, it may well be.
      if (!Missing(errno)) {
        error = errno;
        return Stands::Moved;
      }
      // A file of the new version that is not in the program's folder is
      // nowhere the user would miss it.
      if (step.role == Role::In) return Stands::Back;
      // Not where the step put it: never moved, or back already, where it
      // was; else the journal cannot say where it is.
      if (Holds(places_.HolderOf(step.from, false), from.name, step.id)) return Stands::Back;
      if (!Missing(errno)) error = errno;
      return Stands::Unknown;
    }
    const OpenFolderRef back = places_.HolderOf(step.from, true);
    if (!back || !beforeMove_() ||
        !platform::RenameNoReplace(ItemAt(to->fd(), name), ItemAt(back->fd(), from.name))) {
      error = errno;
      return Stands::Moved;
    }
    // The record the Trash keeps of an item taken back from it goes too.
    if (const OpenFolderRef info = step.role == Role::Trashed ? places_.InTrash("info") : nullptr) {
      ::unlinkat(info->fd(), (name + ".trashinfo").c_str(), 0);
    }
    return Stands::Back;
  }

 private:
  // A look that failed with `error` found nothing there: another item, or
  // nothing at all.
  static bool Missing(int error) { return error == 0 || error == ENOENT || error == ENOTDIR; }

  Places places_;
  const std::function<bool()>& beforeMove_;
};

}  // namespace

platform::OpenFolderRef HolderOf(const JournalFolders& folders, const JournalContents& journal,
                                 const Spot& spot, bool make) {
  return Places(folders, journal).HolderOf(spot, make);
}

bool Holds(const JournalFolders& folders, const JournalContents& journal, const Spot& spot,
           const platform::ItemId& id) {
  return Holds(HolderOf(folders, journal, spot, false), SplitPath(spot.path).name, id);
}

TakenBack TakeBack(const JournalFolders& folders, const JournalContents& journal,
                   const std::function<bool()>& beforeMove) {
  TakenBack result;
  if (journal.done) return result;
  Taking taking(folders, journal, beforeMove);
  // A step written again with the same spots holds over the earlier one.
  std::set<std::pair<std::string, std::string>> seen;
  const auto key = [](const Spot& spot) { return static_cast<char>(spot.root) + spot.path; };
  for (auto step = journal.steps.rbegin(); step != journal.steps.rend(); ++step) {
    if (!seen.insert({key(step->from), key(step->to)}).second) continue;
    int error = 0;
    const Stands where = taking.Back(*step, error);
    if (where == Stands::Back) continue;
    if (result.error == 0) result.error = error;
    result.left.push_back({*step, where});
  }
  return result;
}

}  // namespace update
