// Finds the progress a status text reports, so it can be drawn as a bar.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kav::ui {

// Per mille done: from "(45%)" or "12 of 300"; nothing when the text
// reports no progress.
std::optional<int> progressPerMille(std::string_view text);

struct Progress {
  int perMille = 0;
  uint64_t done = 0, total = 0;  // from "12 of 300"; total 0 when the text gives a percentage only
};

// The progress a status text reports, with its count where it gives one.
std::optional<Progress> readProgress(std::string_view text);

}  // namespace kav::ui
