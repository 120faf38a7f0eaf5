#include "tools/purse/purse_commands.h"

#include "ctapi/include/ctapi.h"

namespace k52::balview {

namespace {

constexpr std::uint8_t kCardStatus[] = {0x20, 0x13, 0x00, 0x80, 0x00};
constexpr std::uint8_t kCardReset[] = {0x20, 0x11, 0x01, 0x00, 0x00};
constexpr std::uint8_t kSelectPurse[] = {0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76,
                                         0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};
constexpr std::uint8_t kReadBalanceRecord[] = {0x00, 0xB2, 0x01, 0xC4, 0x09};
constexpr std::uint8_t kVersionQuery[] = {0x20, 0x13, 0x00, 0x47};

bool beginsWith(const Answer& answer, std::uint8_t sw1, std::uint8_t sw2) {
  return answer.result == OK && answer.bytes.size() >= 2 && answer.bytes[0] == sw1 &&
         answer.bytes[1] == sw2;
}

}  // namespace

CardState cardStatus(CtApiBinding& ct) {
  const Answer answer = ct.send(CTAPI_ADDR_CT, kCardStatus);
  if (answer.result != OK || answer.bytes.size() < 3 || answer.bytes[1] != 0x90 ||
      answer.bytes[2] != 0x00) {
    return CardState::Unknown;
  }
  switch (answer.bytes[0]) {
    case 0x00:
      return CardState::NoCard;
    case 0x03:
      return CardState::Present;
    case 0x05:
      return CardState::Active;
    default:
      return CardState::Unknown;
  }
}

bool cardReset(CtApiBinding& ct) {
  return beginsWith(ct.send(CTAPI_ADDR_CT, kCardReset), 0x90, 0x01);
}

bool selectPurse(CtApiBinding& ct) {
  return beginsWith(ct.send(CTAPI_ADDR_ICC1, kSelectPurse), 0x90, 0x00);
}

std::optional<std::vector<std::uint8_t>> readBalanceRecord(CtApiBinding& ct) {
  Answer answer = ct.send(CTAPI_ADDR_ICC1, kReadBalanceRecord);
  const std::size_t n = answer.bytes.size();
  if (answer.result != OK || n < 2 || answer.bytes[n - 2] != 0x90 || answer.bytes[n - 1] != 0x00) {
    return std::nullopt;
  }
  answer.bytes.resize(n - 2);
  return std::move(answer.bytes);
}

std::optional<std::array<std::uint8_t, 3>> versionQuery(CtApiBinding& ct) {
  const Answer answer = ct.send(CTAPI_ADDR_CT, kVersionQuery);
  if (answer.result != OK || answer.bytes.size() != 3) return std::nullopt;
  return std::array<std::uint8_t, 3>{answer.bytes[0], answer.bytes[1], answer.bytes[2]};
}

}  // namespace k52::balview
