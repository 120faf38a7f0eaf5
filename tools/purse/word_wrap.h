// Breaking a message into the lines of the display rectangle.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace k52::balview {

// The width of a piece of text in the display's font.
using MeasureText = std::function<int(std::string_view)>;

// Breaks `text` at blanks so that each line fits `width`, and at every line
// feed. A word wider than the rectangle stands on a line of its own and is
// not split. Blanks inside a line stay as they are; those at a break go.
std::vector<std::string> wrapText(std::string_view text, int width, const MeasureText& measure);

}  // namespace k52::balview
