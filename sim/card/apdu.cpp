#include "sim/card/apdu.h"

namespace k52::sim {
namespace {

std::size_t be16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::size_t>(b[at]) << 8 | b[at + 1];
}

// An Le field of zero asks for the maximum of its encoding.
std::size_t shortNe(std::uint8_t le) {
  return le == 0 ? 256 : le;
}
std::size_t extendedNe(std::size_t le) {
  return le == 0 ? 65536 : le;
}

}  // namespace

std::optional<CommandApdu> parseCommandApdu(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return std::nullopt;
  CommandApdu apdu{bytes[0], bytes[1], bytes[2], bytes[3], {}, 0};
  const std::span<const std::uint8_t> body = bytes.subspan(4);
  if (body.empty()) return apdu;

  if (body[0] != 0 || body.size() == 1) {
    // Short encoding: [Le] | Lc data [Le]
    if (body.size() == 1) {
      apdu.ne = shortNe(body[0]);
      return apdu;
    }
    const std::size_t lc = body[0];
    if (body.size() == 1 + lc) {
      apdu.data = body.subspan(1, lc);
    } else if (body.size() == 2 + lc) {
      apdu.data = body.subspan(1, lc);
      apdu.ne = shortNe(body[1 + lc]);
    } else {
      return std::nullopt;
    }
    return apdu;
  }

  // Extended encoding: 00 Le Le | 00 Lc Lc data [Le Le]
  if (body.size() < 3) return std::nullopt;
  if (body.size() == 3) {
    apdu.ne = extendedNe(be16(body, 1));
    return apdu;
  }
  const std::size_t lc = be16(body, 1);
  if (lc == 0) return std::nullopt;
  if (body.size() == 3 + lc) {
    apdu.data = body.subspan(3, lc);
  } else if (body.size() == 5 + lc) {
    apdu.data = body.subspan(3, lc);
    apdu.ne = extendedNe(be16(body, 3 + lc));
  } else {
    return std::nullopt;
  }
  return apdu;
}

std::vector<std::uint8_t> ResponseApdu::bytes() const {
  std::vector<std::uint8_t> out;
  out.reserve(data.size() + 2);
  out.assign(data.begin(), data.end());
  out.push_back(static_cast<std::uint8_t>(sw >> 8));
  out.push_back(static_cast<std::uint8_t>(sw));
  return out;
}

}  // namespace k52::sim
