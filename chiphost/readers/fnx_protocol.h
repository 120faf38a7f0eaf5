// The FNX readers' command protocol as both ends know it: answer lengths,
// the command strings, the speed table, the identification bytes and the
// key under which a reader enciphers its LotNr and Serial. The reader family
// and the firmware simulator share this header.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace k52::chiphost::fnx {

// The number of answer bytes (without the checksum) for a command whose
// last byte is `op`; 0xFF answers nothing and is not sent itself.
constexpr unsigned answerLength(std::uint8_t op) {
  if (op == 0x00) return 2;
  if (op >= 0x02 && op <= 0x04) return 1;
  if (op == 0x0C) return 4;
  if (op >= 0x10 && op <= 0x3F) return (op & 0x0F) + 1u;
  return 0;
}

// The frame starts with its length byte from this speed on.
inline constexpr std::int32_t kLengthByteSpeed = 115200;
// The answer checksum continues from the value the host's checksum byte
// leaves behind, which is always this.
inline constexpr std::uint8_t kAnswerSeed = 0x01;

inline constexpr std::uint8_t kIdentify[] = {0x69, 0x00};
inline constexpr std::uint8_t kOldIdentify[] = {0x00};
inline constexpr std::uint8_t kReadCounter[] = {0x02};
inline constexpr std::uint8_t kReadStatus[] = {0x03};
inline constexpr std::uint8_t kReadIdentity[] = {0x0C};
inline constexpr std::uint8_t kPowerOn[] = {0x70, 0x80, 0x60, 0x10};
inline constexpr std::uint8_t kPowerOff[] = {0x80, 0x61, 0x61, 0x0F};
inline constexpr std::uint8_t kLedOff[] = {0x6B, 0x0F};
inline constexpr std::uint8_t kLedOn[] = {0x6A, 0x0F};
inline constexpr std::uint8_t kSpeedTest[] = {0x6E, 0x01, 0x02, 0x03, 0x6E, 0x01, 0x02,
                                              0x03, 0x6E, 0x01, 0x02, 0x03, 0x3E};
inline constexpr unsigned kSpeedTestAnswer = 15;
// Bytes 2 of the card reset: variant 1, variant 0.
inline constexpr std::uint8_t kResetVariant1 = 0xA0;
inline constexpr std::uint8_t kResetVariant0 = 0x80;
inline constexpr std::uint8_t kTransferOp = 0x6F;
inline constexpr std::uint8_t kSpeedOp = 0x6E;
inline constexpr std::uint8_t kSpeedCheck = 0x5D;
inline constexpr std::uint8_t kModeParityOdd = 0x80;
inline constexpr std::uint8_t kModeParityEven = 0x40;
// Raw bytes outside frames.
inline constexpr std::uint8_t kAttention = 0xFE;
inline constexpr std::uint8_t kEndTransferEven = 0xF8;
inline constexpr std::uint8_t kEndTransferOther = 0xFC;
inline constexpr std::uint8_t kTransparentLead[] = {kAttention, kEndTransferEven};

struct SpeedCode {
  std::int32_t atLeast;
  std::uint8_t d;
  std::uint8_t t;
};
// The first row whose speed the wanted one reaches; below 1200: 11, 2.
inline constexpr SpeedCode kSpeedCodes[] = {
    {115200, 0x80, 0}, {57600, 1, 0}, {38400, 2, 0}, {28800, 3, 0}, {19200, 5, 2}, {14400, 7, 1},
    {9600, 11, 2},     {6975, 15, 1}, {4800, 23, 5}, {2400, 46, 3}, {1200, 93, 7},
};
inline constexpr SpeedCode kSpeedBelow1200{0, 11, 2};

constexpr SpeedCode speedCodeFor(std::int32_t speed) {
  for (const SpeedCode& row : kSpeedCodes) {
    if (speed >= row.atLeast) return row;
  }
  return kSpeedBelow1200;
}

// The firmware's side: the rate a d value selects, 115200 / (d + 1) (0x80:
// 115200); nullopt for a d no row has. A UART takes a few per cent off the
// nominal rate, which is how 2400 and 1200 come out of 46 and 93.
constexpr std::optional<std::int32_t> speedOfCode(std::uint8_t d) {
  for (const SpeedCode& row : kSpeedCodes) {
    if (row.d == d) return d == 0x80 ? 115200 : 115200 / (d + 1);
  }
  return std::nullopt;
}

// Identification byte per reader type 1..13 (index 0: no reader).
inline constexpr std::array<std::uint8_t, 14> kIdentificationBytes = {
    0x00, 0x84, 0x85, 0x80, 0x90, 0x91, 0x88, 0x88, 0x88, 0x98, 0x92, 0x60, 0x61, 0x62};

// The fixed key of the reader identities (Cdes4, key bytes little-endian).
inline constexpr std::uint32_t kIdentityKey = 0x5A3C96E1;

// Firmware levels (version bytes, decimal) that change the protocol.
inline constexpr std::uint8_t kParityModeFrom = 17;       // above 16: parity by mode bits
inline constexpr std::uint8_t kSpeedFrom = 19;            // 18 or older: no speed command
inline constexpr std::uint8_t kOwnParityFrom = 66;        // 66 on: host port keeps even parity
inline constexpr std::uint8_t kTransparentLeadFrom = 66;  // above 65: 0xFE 0xF8 lead

}  // namespace k52::chiphost::fnx
