// The native file chooser as every program's dialogs use it.
#pragma once

#include <string>

namespace common {

// Shows the chooser (save = a save dialog; filter may be nullptr). A chooser
// error prints "ERROR: %s" and "*** CANCEL" to the error stream, a cancel
// "*** CANCEL"; false then, and when no name came back.
bool choose_file(const char* title, const char* filter, bool save, std::string& out);

}  // namespace common
