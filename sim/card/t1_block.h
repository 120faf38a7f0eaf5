// T=1 blocks (ISO/IEC 7816-3): NAD, PCB, LEN, INF, and an LRC as the
// epilogue. Both ends of the simulated contacts build and check them here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace k52::sim::t1 {

inline constexpr std::size_t kPrologue = 3;
inline constexpr std::size_t kMaxInf = 254;
// IFSC and IFSD until an ATR or an S(IFS) says otherwise.
inline constexpr std::size_t kDefaultIfs = 32;

// PCB bits.
inline constexpr std::uint8_t kISequence = 0x40;  // N(S) of an I-block
inline constexpr std::uint8_t kIMore = 0x20;      // chaining: more to come
inline constexpr std::uint8_t kRBlock = 0x80;
inline constexpr std::uint8_t kRSequence = 0x10;  // N(R) of an R-block
inline constexpr std::uint8_t kREdcError = 0x01;
inline constexpr std::uint8_t kROtherError = 0x02;
inline constexpr std::uint8_t kSBlock = 0xC0;
inline constexpr std::uint8_t kSResponse = 0x20;
inline constexpr std::uint8_t kSResynch = 0x00;
inline constexpr std::uint8_t kSIfs = 0x01;
inline constexpr std::uint8_t kSAbort = 0x02;
inline constexpr std::uint8_t kSWtx = 0x03;

inline constexpr bool isIBlock(std::uint8_t pcb) {
  return (pcb & 0x80) == 0;
}
inline constexpr bool isRBlock(std::uint8_t pcb) {
  return (pcb & 0xC0) == kRBlock;
}
inline constexpr bool isSBlock(std::uint8_t pcb) {
  return (pcb & 0xC0) == kSBlock;
}
// N(S) of an I-block or N(R) of an R-block, as 0 or 1.
inline constexpr std::uint8_t sequenceOf(std::uint8_t pcb) {
  return isIBlock(pcb) ? (pcb & kISequence) >> 6 : (pcb & kRSequence) >> 4;
}

inline constexpr std::uint8_t iPcb(std::uint8_t ns, bool more) {
  return static_cast<std::uint8_t>((ns ? kISequence : 0) | (more ? kIMore : 0));
}
inline constexpr std::uint8_t rPcb(std::uint8_t nr, std::uint8_t error = 0) {
  return static_cast<std::uint8_t>(kRBlock | (nr ? kRSequence : 0) | error);
}
inline constexpr std::uint8_t sPcb(std::uint8_t type, bool response) {
  return static_cast<std::uint8_t>(kSBlock | (response ? kSResponse : 0) | type);
}

struct Block {
  std::uint8_t nad = 0;
  std::uint8_t pcb = 0;
  std::vector<std::uint8_t> inf;
};

enum class BlockError {
  kNone,
  kEdc,    // the LRC does not check out
  kOther,  // too short, LEN disagrees with the size, or LEN is 255
};

std::uint8_t lrc(std::span<const std::uint8_t> bytes);

// Prologue, `inf` and LRC. `inf` must not exceed kMaxInf bytes.
std::vector<std::uint8_t> encode(std::uint8_t nad, std::uint8_t pcb,
                                 std::span<const std::uint8_t> inf = {});

// Fills `block` only when the result is kNone.
BlockError decode(std::span<const std::uint8_t> bytes, Block& block);

}  // namespace k52::sim::t1
