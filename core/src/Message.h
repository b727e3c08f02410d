// The library's message boxes: handed to the host program's hook, or written to standard
// error when the program installed none.
#pragma once

#include <string>

namespace qv::core {

// Any thread (the picture-saving and mail threads of the program); blocks while the host
// shows the box. Reads the hook under its lock.
void ShowMessage(const std::string& text, const std::string& caption);

}  // namespace qv::core
