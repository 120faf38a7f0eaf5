// The terminal's capability answer: 0x68 0x60, then n (the size of the
// whole frame including its two length bytes), then tagged entries
// [tag][length][value] with multi-byte values little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace k52::sim {

enum class TerminalKind { kKeyboard, kSerial };

struct TerminalIdentity {
  TerminalKind kind = TerminalKind::kKeyboard;
  std::string vendor = "Varnel GmbH";
  // Ends in 'B': a reader with a keypad and no display, so the host lets
  // PIN commands through.
  std::string interfaceType = "K52-3100 Keyboard-Reader B";
  std::string serialNumber = "K52-0000001";
};

TerminalIdentity serialTerminalIdentity();

std::vector<std::uint8_t> capabilityAnswer(const TerminalIdentity& identity);

}  // namespace k52::sim
