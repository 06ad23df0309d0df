#pragma once
// The framework's message box: a modal box with a fixed text and an OK button.
// Tests install a sink so that a handler that tells the user something neither
// blocks nor goes unnoticed.
#include <functional>
#include <string>

namespace platform {

void MsgBox(const std::string& text);

// Replaces how messages are shown (nullptr restores the real box). Returns the
// previous sink.
using MsgBoxSink = std::function<void(const std::string&)>;
MsgBoxSink SetMsgBoxSink(MsgBoxSink sink);

}  // namespace platform
