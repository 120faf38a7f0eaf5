// The bytes between the PC side of the port link and the keyboard process:
// fixed eight-byte records in both directions over a Unix stream socket.
//
//   offset 0  op
//   offset 1  value     (a written or read byte; the role in a hello)
//   offset 2  port      (little endian)
//   offset 4  sequence  (little endian; ties a value to its read)
//
// A connection opens with a hello from the client naming its role; the
// keyboard answers a PC's hello with a hello of its own, or with busy when
// another PC is attached. A control client follows its hello with one text
// line and reads the answer until the keyboard closes the connection.
//
// PC to keyboard: read (answered by a value with the same sequence) and
// write (not answered; the stream keeps the order, so an IRQ1 a write
// causes always comes after it). Keyboard to PC: value and irq1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace k52::nt::portwire {

enum class Op : std::uint8_t {
  kHello = 1,
  kBusy = 2,
  kRead = 3,
  kWrite = 4,
  kValue = 5,
  kIrq1 = 6,
};

enum class Role : std::uint8_t {
  kPc = 'P',
  kControl = 'C',
};

inline constexpr std::size_t kRecordSize = 8;
inline constexpr std::uint16_t kVersion = 1;
inline constexpr std::uint32_t kMagic = 0x5332354B;  // "K52S" on the wire

struct Record {
  Op op;
  std::uint8_t value = 0;
  std::uint16_t port = 0;
  std::uint32_t sequence = 0;
};

using Bytes = std::array<std::uint8_t, kRecordSize>;

inline Bytes encode(const Record& r) {
  return {static_cast<std::uint8_t>(r.op),
          r.value,
          static_cast<std::uint8_t>(r.port),
          static_cast<std::uint8_t>(r.port >> 8),
          static_cast<std::uint8_t>(r.sequence),
          static_cast<std::uint8_t>(r.sequence >> 8),
          static_cast<std::uint8_t>(r.sequence >> 16),
          static_cast<std::uint8_t>(r.sequence >> 24)};
}

// nullopt for an op this version does not know.
inline std::optional<Record> decode(std::span<const std::uint8_t, kRecordSize> b) {
  if (b[0] < static_cast<std::uint8_t>(Op::kHello) || b[0] > static_cast<std::uint8_t>(Op::kIrq1)) {
    return std::nullopt;
  }
  return Record{static_cast<Op>(b[0]), b[1], static_cast<std::uint16_t>(b[2] | b[3] << 8),
                static_cast<std::uint32_t>(b[4]) | static_cast<std::uint32_t>(b[5]) << 8 |
                    static_cast<std::uint32_t>(b[6]) << 16 |
                    static_cast<std::uint32_t>(b[7]) << 24};
}

inline Record hello(Role role) {
  return {Op::kHello, static_cast<std::uint8_t>(role), kVersion, kMagic};
}
inline bool isHello(const Record& r) {
  return r.op == Op::kHello && r.port == kVersion && r.sequence == kMagic;
}

}  // namespace k52::nt::portwire
