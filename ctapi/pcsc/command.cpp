#include "ctapi/pcsc/command.h"

namespace k52::ctbridge {

std::optional<Command> classifyCommand(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return std::nullopt;
  Command cmd;
  cmd.cla = bytes[0];
  cmd.ins = bytes[1];
  cmd.p1 = bytes[2];
  cmd.p2 = bytes[3];
  const std::size_t l = bytes.size() - 4;
  const std::size_t b = l >= 1 ? bytes[4] : 0;
  auto withData = [&](int lengthCase, std::size_t lc, std::size_t from) {
    cmd.lengthCase = lengthCase;
    cmd.lc = static_cast<std::uint16_t>(lc);
    cmd.data = bytes.subspan(from, lc);
    return cmd;
  };

  if (l == 0) return withData(1, 0, 4);
  if (l == 1) return withData(2, 0, 4);
  if (b != 0 && l == b + 1) return withData(3, b, 5);
  if (b != 0 && l == b + 2) return withData(4, b, 5);
  if (b == 0 && l == 3) return withData(5, 0, 4);
  if (b == 0 && l >= 3) {
    const std::size_t e = (std::size_t{bytes[5]} << 8) | bytes[6];
    if (e != 0 && l == e + 3) return withData(6, e, 7);
    if (e != 0 && l == e + 5) return withData(7, e, 7);
  }
  return std::nullopt;
}

}  // namespace k52::ctbridge
