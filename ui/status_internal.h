// What tests may read of the status window's process-wide state.
#pragma once

#include <string>

namespace kav::ui {

// The window class name of the last StatusOpen ("KAVSTATUS" and four letters).
std::string statusClassName();
// The status line as it stands.
std::string statusLine();

}  // namespace kav::ui
