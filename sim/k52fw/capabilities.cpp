#include "sim/k52fw/capabilities.h"

#include <algorithm>

#include "sim/k52fw/terminal_link.h"

namespace k52::sim {
namespace {

constexpr std::uint8_t kTagVendor = 0x00;
constexpr std::uint8_t kTagInterfaceType = 0x01;
constexpr std::uint8_t kTagSerialNumber = 0x03;
constexpr std::uint8_t kTagReaderType = 0x10;
constexpr std::uint8_t kTagProtocols = 0x20;
constexpr std::uint8_t kTagDefaultClock = 0x21;
constexpr std::uint8_t kTagMaxClock = 0x22;
constexpr std::uint8_t kTagDefaultRate = 0x23;
constexpr std::uint8_t kTagMaxRate = 0x24;
constexpr std::uint8_t kTagMaxIfsd = 0x25;
constexpr std::uint8_t kTagPowerSupport = 0x31;

constexpr std::uint32_t kReaderTypeSerial = 0x01000100;
constexpr std::uint32_t kReaderTypeKeyboard = 0x00000400;
constexpr std::uint32_t kProtocolsT0T1 = 0x00000003;
constexpr std::uint16_t kClockKhz = 5000;
constexpr std::uint16_t kRateBps = 13440;
constexpr std::uint16_t kMaxIfsd = 254;
// A header byte 0x68 0x60 n leaves 255 - 5 bytes for the entries.
constexpr std::size_t kMaxText = 60;

class Entries {
 public:
  void text(std::uint8_t tag, const std::string& value) {
    const std::size_t n = std::min(value.size(), kMaxText);
    bytes_.push_back(tag);
    bytes_.push_back(static_cast<std::uint8_t>(n));
    bytes_.insert(bytes_.end(), value.begin(), value.begin() + static_cast<std::ptrdiff_t>(n));
  }
  void number(std::uint8_t tag, std::uint32_t value, std::uint8_t width) {
    bytes_.push_back(tag);
    bytes_.push_back(width);
    for (std::uint8_t i = 0; i < width; ++i)
      bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

TerminalIdentity serialTerminalIdentity() {
  TerminalIdentity identity;
  identity.kind = TerminalKind::kSerial;
  identity.interfaceType = "K52-3100 Serial-Reader B";
  identity.serialNumber = "K52-0000002";
  return identity;
}

std::vector<std::uint8_t> capabilityAnswer(const TerminalIdentity& identity) {
  Entries entries;
  entries.text(kTagVendor, identity.vendor);
  entries.text(kTagInterfaceType, identity.interfaceType);
  entries.text(kTagSerialNumber, identity.serialNumber);
  entries.number(kTagReaderType,
                 identity.kind == TerminalKind::kKeyboard ? kReaderTypeKeyboard : kReaderTypeSerial,
                 4);
  entries.number(kTagProtocols, kProtocolsT0T1, 4);
  entries.number(kTagDefaultClock, kClockKhz, 2);
  entries.number(kTagMaxClock, kClockKhz, 2);
  entries.number(kTagDefaultRate, kRateBps, 2);
  entries.number(kTagMaxRate, kRateBps, 2);
  entries.number(kTagMaxIfsd, kMaxIfsd, 2);
  entries.number(kTagPowerSupport, 1, 1);

  // Two length bytes, 0x68, 0x60 and n itself come before the entries.
  constexpr std::size_t kHeader = 5;
  std::vector<std::uint8_t> answer{link::kAnswerCapabilities, link::kCheck,
                                   static_cast<std::uint8_t>(kHeader + entries.bytes().size())};
  answer.insert(answer.end(), entries.bytes().begin(), entries.bytes().end());
  return answer;
}

}  // namespace k52::sim
