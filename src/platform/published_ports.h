#pragma once
// The folder where a simulated unit run by hand publishes its pty, so that a
// person can try the tool without hardware. The port list offers every device
// linked there and the automatic detection probes it, so the folder must be
// the user's own: one that another user owns, or that group or others may
// write to, could steer the program to a device of someone else's choosing.
// Such a folder, and any link in it that another user owns, is ignored.
#include <string>
#include <vector>

namespace platform {

struct PublishedPort {
  std::string Name;      // the link's file name, shown as the port's name
  std::string Location;  // the link's path, which the port is opened by
};

// "$XDG_RUNTIME_DIR/vantora-ports" when the runtime folder is set and private
// to this user; otherwise "/tmp/vantora-ports-<uid>".
std::string DefaultPublishedPortDir();

// The ports published in `dir`, sorted by name: entries owned by this user
// that lead to a character device. Nothing when `dir` is not a folder of this
// user's alone (another owner, writable by group or others, or itself a link).
std::vector<PublishedPort> PublishedPorts(const std::string& dir);

// Makes `dir` (mode 0700) unless it exists, then checks that it is this
// user's alone. False, with the reason in *error, when it can't be used.
bool MakePublishedPortDir(const std::string& dir, std::string* error);

}  // namespace platform
