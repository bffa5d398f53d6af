// What the terminal backend draws, as text cut to a width: the status
// block's lines, the progress line, and the key that folds repeated
// progress texts in a log. Pure functions, so every width can be tried
// without a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/backend.h"
#include "ui/progress_text.h"

namespace kav::ui {

// Columns a text takes: one per UTF-8 character (control bytes none).
size_t columnsOf(std::string_view text);

// The text cut to at most `width` columns; a long text loses its middle,
// marked "...", so both ends of a path stay readable.
std::string fitWidth(std::string_view text, size_t width);

// Rows a line of `columns` takes on a terminal `width` columns wide, once
// the terminal has wrapped (or, on a resize, re-wrapped) it.
size_t rowsAt(size_t columns, size_t width);

// "0:04", "12:30", "1:02:03".
std::string clockText(uint64_t seconds);

// How fast the work goes, once it has gone long enough to tell.
struct Pace {
  std::optional<double> framesPerSecond;
  std::optional<uint64_t> secondsLeft;
};

// "[#####-----]  150/300  50%  42 fps  0:04 left", fitted to `width`.
std::string progressLine(const Progress &p, const Pace &pace, size_t width);

// The status block: caption and second line with the key's hint, the
// status line, and the progress line (empty without progress). Every line
// fits `width` columns.
std::vector<std::string> statusBlock(const StatusView &v, const std::optional<Progress> &p, const Pace &pace,
                                     size_t width);

// Texts with the same key differ only in their numbers ("Reading frame 7
// of 300..." and "... 8 of 300..."): a log folds them into one line.
std::string foldKey(std::string_view text);

// Text with the "&" hot-key markers of button labels taken out.
std::string plainLabel(const std::string &s);

}  // namespace kav::ui
