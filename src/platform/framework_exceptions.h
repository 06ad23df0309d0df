#pragma once
// The framework's exception kinds as C++ types. As in the framework, the
// specific kinds are run-time exceptions too, so a handler for
// RuntimeException sees every one of them.
#include <stdexcept>
#include <string>

namespace platform {

class RuntimeException : public std::runtime_error {
 public:
  explicit RuntimeException(const std::string& message = std::string())
      : std::runtime_error(message) {}
};

// An index outside the valid range of a list or a block.
class OutOfBoundsException : public RuntimeException {
 public:
  using RuntimeException::RuntimeException;
};

// A block or buffer could not be allocated.
class OutOfMemoryException : public RuntimeException {
 public:
  using RuntimeException::RuntimeException;
};

// An operation on an object that is not there.
class NilObjectException : public RuntimeException {
 public:
  using RuntimeException::RuntimeException;
};

}  // namespace platform
