#include "sim/kbd8042/answer_frame.h"

namespace k52::sim {

std::vector<std::uint8_t> encodeAnswerFrame(std::span<const std::uint8_t> answer,
                                            std::uint8_t marker) {
  std::vector<std::uint8_t> codes{kFrameLeadIn, marker};
  codes.reserve(kFrameHeaderCodes + 2 * (2 + answer.size()));
  const auto put = [&codes](std::uint8_t byte) {
    codes.push_back(static_cast<std::uint8_t>(kAnswerNibbleBase + (byte >> 4)));
    codes.push_back(static_cast<std::uint8_t>(kAnswerNibbleBase + (byte & 0x0F)));
  };
  put(static_cast<std::uint8_t>(answer.size() >> 8));
  put(static_cast<std::uint8_t>(answer.size()));
  for (const std::uint8_t byte : answer) put(byte);
  return codes;
}

}  // namespace k52::sim
