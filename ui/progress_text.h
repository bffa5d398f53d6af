// Finds the progress a status text reports, so it can be drawn as a bar.
#pragma once

#include <optional>
#include <string_view>

namespace kav::ui {

// Per mille done: from "(45%)" or "12 of 300"; nothing when the text
// reports no progress.
std::optional<int> progressPerMille(std::string_view text);

}  // namespace kav::ui
