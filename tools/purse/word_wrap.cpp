#include "tools/purse/word_wrap.h"

namespace k52::balview {

namespace {

void wrapParagraph(std::string_view paragraph, int width, const MeasureText& measure,
                   std::vector<std::string>& lines) {
  std::string line;
  std::size_t pos = 0;
  while (pos < paragraph.size()) {
    const std::size_t wordStart = paragraph.find_first_not_of(' ', pos);
    if (wordStart == std::string_view::npos) break;
    const std::size_t wordEnd = std::min(paragraph.find(' ', wordStart), paragraph.size());
    const std::string_view blanks = paragraph.substr(pos, wordStart - pos);
    const std::string_view word = paragraph.substr(wordStart, wordEnd - wordStart);
    if (line.empty()) {
      line = word;
    } else {
      std::string candidate = line;
      candidate.append(blanks).append(word);
      if (measure(candidate) <= width) {
        line = std::move(candidate);
      } else {
        lines.push_back(std::move(line));
        line = word;
      }
    }
    pos = wordEnd;
  }
  lines.push_back(std::move(line));
}

}  // namespace

std::vector<std::string> wrapText(std::string_view text, int width, const MeasureText& measure) {
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  std::size_t start = 0;
  while (true) {
    const std::size_t feed = text.find('\n', start);
    wrapParagraph(text.substr(start, feed - start), width, measure, lines);
    if (feed == std::string_view::npos) break;
    start = feed + 1;
  }
  return lines;
}

}  // namespace k52::balview
