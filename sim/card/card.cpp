#include "sim/card/card.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "sim/card/atr.h"
#include "sim/card/status_words.h"

namespace k52::sim {
namespace {

constexpr std::uint8_t kInsSelect = 0xA4;
constexpr std::uint8_t kInsReadRecord = 0xB2;
constexpr std::uint8_t kSelectByDfName = 0x04;
constexpr std::uint8_t kSelectReturnFci = 0x00;
constexpr std::uint8_t kSelectNoData = 0x0C;
constexpr std::uint8_t kRecordNumberInP1 = 0x04;

// 0 when the card serves this class byte, else the status to answer.
std::uint16_t classStatus(std::uint8_t cla) {
  if ((cla & 0xE0) == 0x00) {  // first interindustry class
    if (cla & 0x10) return sw::kChainingNotSupported;
    if (cla & 0x0C) return sw::kSecureMessagingNotSupported;
    if (cla & 0x03) return sw::kLogicalChannelNotSupported;
    return 0;
  }
  // The further interindustry class only addresses channels 4 to 19.
  if ((cla & 0xC0) == 0x40) return sw::kLogicalChannelNotSupported;
  return sw::kClaNotSupported;
}

// Answers `data` to a command expecting up to `ne` bytes. Too little room is
// reported as 6Cxx so the terminal can repeat with the right Le.
ResponseApdu fit(std::vector<std::uint8_t> data, std::size_t ne) {
  if (data.size() <= ne) return ResponseApdu{std::move(data), sw::kOk};
  if (data.size() > 255) return statusOnly(sw::kWrongLength);
  return statusOnly(sw::wrongLe(static_cast<std::uint8_t>(data.size())));
}

std::vector<std::uint8_t> fciOf(std::span<const std::uint8_t> name) {
  std::vector<std::uint8_t> fci{0x6F, static_cast<std::uint8_t>(name.size() + 2), 0x84,
                                static_cast<std::uint8_t>(name.size())};
  fci.insert(fci.end(), name.begin(), name.end());
  return fci;
}

}  // namespace

Card::Card(std::vector<std::uint8_t> atr) : atr_(std::move(atr)) {
  if (!parseAtr(atr_)) throw std::invalid_argument("malformed ATR");
}

void Card::install(std::unique_ptr<Application> application) {
  const auto name = application->name();
  const bool taken = std::any_of(applications_.begin(), applications_.end(), [&](const auto& a) {
    return std::ranges::equal(a->name(), name);
  });
  if (taken) throw std::invalid_argument("application name already installed");
  applications_.push_back(std::move(application));
}

std::vector<std::uint8_t> Card::powerOn() {
  restart();
  return atr_;
}

std::vector<std::uint8_t> Card::reset() {
  restart();
  return atr_;
}

void Card::powerOff() {
  powered_ = false;
  selected_ = nullptr;
}

void Card::restart() {
  powered_ = true;
  selected_ = nullptr;
}

std::vector<std::uint8_t> Card::process(std::span<const std::uint8_t> apdu) {
  if (!powered_) return {};
  const auto command = parseCommandApdu(apdu);
  if (!command) return statusOnly(sw::kWrongLength).bytes();
  return dispatch(*command).bytes();
}

ResponseApdu Card::dispatch(const CommandApdu& command) {
  if (const std::uint16_t status = classStatus(command.cla)) return statusOnly(status);
  switch (command.ins) {
    case kInsSelect:
      return select(command);
    case kInsReadRecord:
      return readRecord(command);
    default:
      return selected_ ? selected_->process(command) : statusOnly(sw::kInsNotSupported);
  }
}

ResponseApdu Card::select(const CommandApdu& command) {
  if (command.p1 != kSelectByDfName) return statusOnly(sw::kIncorrectP1P2);
  if (command.p2 != kSelectReturnFci && command.p2 != kSelectNoData) {
    return statusOnly(sw::kIncorrectP1P2);
  }
  if (command.data.empty()) return statusOnly(sw::kWrongLength);
  const auto found = std::find_if(applications_.begin(), applications_.end(), [&](const auto& a) {
    return std::ranges::equal(a->name(), command.data);
  });
  // A failed selection leaves the current DF as it was.
  if (found == applications_.end()) return statusOnly(sw::kFileNotFound);
  selected_ = found->get();
  if (command.p2 == kSelectNoData || !command.hasLe()) return statusOnly(sw::kOk);
  return fit(fciOf(selected_->name()), command.ne);
}

ResponseApdu Card::readRecord(const CommandApdu& command) const {
  if (!command.data.empty() || !command.hasLe()) return statusOnly(sw::kWrongLength);
  if ((command.p2 & 0x07) != kRecordNumberInP1) return statusOnly(sw::kIncorrectP1P2);
  const std::uint8_t sfi = command.p2 >> 3;
  // SFI 0 means the current EF, and no command here makes one current.
  if (sfi == 0) return statusOnly(sw::kNoCurrentEf);
  if (sfi == 0x1F) return statusOnly(sw::kIncorrectP1P2);
  if (!selected_ || !selected_->hasRecordFile(sfi)) return statusOnly(sw::kFileNotFound);
  // Record 0 would be the current record, which is never set either.
  auto record = command.p1 == 0 ? std::nullopt : selected_->record(sfi, command.p1);
  if (!record) return statusOnly(sw::kRecordNotFound);
  return fit(std::move(*record), command.ne);
}

}  // namespace k52::sim
