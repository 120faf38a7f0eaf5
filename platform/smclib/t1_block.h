// T=1 blocks of ISO/IEC 7816-3: prologue (NAD, PCB, LEN), information field
// and epilogue (LRC, or CRC when the ATR asks for it).
#pragma once

#include <cstdint>
#include <span>

namespace k52::nt::t1 {

inline constexpr std::uint8_t kMaxInf = 254;
inline constexpr std::size_t kPrologue = 3;
inline constexpr std::size_t kMaxBlock = kPrologue + kMaxInf + 2;

// PCB. I-block: 0 N(S) M 00000. R-block: 100 N(R) error. S-block: 11
// response type.
inline constexpr std::uint8_t kIBlockNs = 0x40;
inline constexpr std::uint8_t kIBlockMore = 0x20;
inline constexpr std::uint8_t kRBlock = 0x80;
inline constexpr std::uint8_t kRBlockNr = 0x10;
inline constexpr std::uint8_t kSBlock = 0xC0;
inline constexpr std::uint8_t kSResponse = 0x20;

enum RError : std::uint8_t { kErrorFree = 0, kEdcError = 1, kOtherError = 2 };
enum SType : std::uint8_t { kResynch = 0, kIfs = 1, kAbort = 2, kWtx = 3, kVppError = 4 };

enum class Kind { I, R, S };

inline Kind kindOf(std::uint8_t pcb) {
  if ((pcb & 0x80) == 0) return Kind::I;
  return (pcb & 0x40) ? Kind::S : Kind::R;
}

// The epilogue's length: 2 for CRC, 1 for LRC.
inline std::size_t edcLength(bool crc) {
  return crc ? 2 : 1;
}

// Writes the epilogue of block[0..length) behind it; block must have room.
void appendEdc(std::span<std::uint8_t> block, std::size_t length, bool crc);
// Whether the epilogue at the end of `block` matches the bytes before it.
bool edcValid(std::span<const std::uint8_t> block, bool crc);

}  // namespace k52::nt::t1
