// The default backend: messages on standard error, questions on the
// controlling terminal.
#pragma once

#include "ui/backend.h"

namespace kav::ui {

Backend &terminalBackend();

}  // namespace kav::ui
