#pragma once
// Counting the file-system calls a piece of code makes on names below one
// folder, and racing one of them. The C library's entry points that take a
// name are defined again in the test program, which links with its symbols
// exported, so the calls of our libraries, of libstdc++ and of Qt all come
// here first; each is handed on to the next definition (the sanitizer's
// interceptor in that build, else the C library).
//
// Until armed nothing is counted or changed. Armed, every call on a name
// below the watched folder is counted (a call with two names, a rename or a
// hard link, counts once for each name below it), and at the chosen one the
// change another process could make is made, just before the call or just
// after it returns. Calls through a descriptor alone name nothing and are
// not counted: fstat, futimens, fchmod, "." or "" in an open folder, and the
// reopening of a descriptor through /proc/self/fd.
//
// While armed, an open that would reach a FIFO or a device this shim
// made is refused (EACCES) and noted: such an open could block the run, or
// wake the device. An open that reaches anything outside the destination
// (below the folder that holds the outside file and folder) is noted too.
#include <string>
#include <vector>

namespace sweep {

// What another process does at the name of the call (the first six), or to
// the folder the call works in (the last).
enum class Change {
  LinkToFile,    // a symbolic link to the outside file
  LinkToFolder,  // a symbolic link to the outside folder
  Fifo,
  Device,        // a character device (the null device's numbers)
  HardLink,      // a second name of the outside file
  Folder,        // an empty folder
  FolderToLink,  // the folder is moved aside and a link to the outside folder takes its name
  Exit,          // the process ends there, as a kill would end it
};
inline constexpr Change kChanges[] = {Change::LinkToFile,  Change::LinkToFolder, Change::Fifo,
                                      Change::Device,      Change::HardLink,     Change::Folder,
                                      Change::FolderToLink};
const char* ChangeName(Change change);

enum class When { Before, After };

// The status a process ended by Change::Exit exits with.
inline constexpr int kExited = 86;

// Whatever stands at a name when a change is made there is first renamed to
// this name in the same folder; a folder replaced by a link goes to this name
// in its own parent.
inline constexpr char kAsideName[] = ".sweep-aside";

struct Plan {
  // Absolute, with no link on its way: below it calls are counted.
  std::string watched;
  // What the links and the hard link lead to.
  std::string outsideFile;
  std::string outsideFolder;
  // The counted call (from 1) the change is made at; 0 only counts.
  long at = 0;
  Change change = Change::LinkToFile;
  When when = When::Before;
};

// What the armed shim saw.
struct Seen {
  // Every counted call: the function and the name, relative to the watched
  // folder.
  std::vector<std::string> calls;
  // What the change did: empty while it was not made.
  std::string made;
  // Why the change could not be made here (no right to make a device, say);
  // empty when nothing kept it from being made.
  std::string skipped;
  // The folder moved aside was the watched folder itself: the aside name
  // then stands beside it.
  bool asideBesideWatched = false;
  // FIFOs and devices something tried to open, and what was opened outside.
  std::vector<std::string> violations;
};

void Arm(Plan plan);
Seen Disarm();

}  // namespace sweep
