#include "chiphost/readers/reader_attachment.h"

#include <algorithm>

#include "chiphost/core/excpt.h"

namespace k52::chiphost {

namespace {

constexpr std::uint16_t kProgress = 301;

std::vector<ReaderAttachment*>& attachedList() {
  static auto* list = new std::vector<ReaderAttachment*>;
  return *list;
}

}  // namespace

ReaderAttachment::ReaderAttachment(ReaderHost& host, int port, int slot)
    : host_(host), portNumber_(port), slot_(slot), fnx_(port_, params_, host) {
  params_.clear();
  port_.setIdleEvent([&host](bool portWait) { host.idle(portWait); });
  // The driver channel brings a slower reader back up to speed this way.
  port_.setBaudCallback([this](std::int32_t baud) {
    if (attached_ && family_ == 1) fnx_.SetSpeed(baud);
  });
}

ReaderAttachment::~ReaderAttachment() {
  std::erase(attachedList(), this);
}

const std::vector<ReaderAttachment*>& ReaderAttachment::attachedCards() {
  return attachedList();
}

void ReaderAttachment::forceStatusOnDriverPorts() {
  for (ReaderAttachment* card : attachedList()) {
    if (card->family_ == 1 && card->port_.driverFlag()) card->fnx_.forceStatus();
  }
}

void ReaderAttachment::detach() {
  attached_ = false;
  std::erase(attachedList(), this);
}

void ReaderAttachment::Attach(int mode) {
  if (mode == 3 || mode == 4) {
    if (!attached_) throw Excpt("1008");
    try {
      if (family_ != 1) throw Excpt("1008");
      fnx_.Attach(portNumber_, slot_, mode);
    } catch (const Excpt&) {
      detach();
      throw;
    }
    return;
  }
  detach();
  family_ = 0;
  type_ = 0;
  TComPort::ProbePort(static_cast<std::int16_t>(portNumber_), true);
  if (mode == 2) host_.notifyAll(kProgress, static_cast<std::uint16_t>(portNumber_));
  try {
    fnx_.Attach(portNumber_, slot_, mode);
    family_ = 1;
    type_ = fnx_.type();
    attachedList().push_back(this);
    if (type_ == 7) attachTwin();
  } catch (const Excpt& e) {
    // The UCR family would be tried here when no other port object shares
    // the number; it is not part of the server yet.
    port_.SetDtr(true);
    port_.SetRts(true);
    port_.SetPortNumber(0);
    if (mode == 2) host_.notifyAll(kProgress, static_cast<std::uint16_t>(portNumber_ - 256));
    if (e.text() == "1001") throw;
    throw Excpt("1008");
  }
  if (mode == 2) host_.notifyAll(kProgress, static_cast<std::uint16_t>(portNumber_ - 512));
  capabilities_ = capabilityMask(type_);
  cardSpeed_ = fnx_.currentSpeed();
  attached_ = true;
}

void ReaderAttachment::attachTwin() {
  try {
    host_.cardOfSlot(portNumber_, 1).Attach(0);
  } catch (const Excpt&) {
    // The second slot stays detached; this slot's reader is there.
  }
}

void ReaderAttachment::route() {
  if (!attached_) throw Excpt("1008");
  if (family_ != 1) throw Excpt("1008");
}

void ReaderAttachment::SetLed(int code) {
  route();
  fnx_.SetLed(code);
}

bool ReaderAttachment::SetSpeed(std::int32_t speed) {
  route();
  return fnx_.SetSpeed(speed);
}

void ReaderAttachment::SetCharParity(int parity) {
  route();
  fnx_.SetCharParity(parity);
}

bool ReaderAttachment::CardPresent() {
  route();
  return fnx_.CardPresent();
}

bool ReaderAttachment::CardChanged() {
  route();
  return fnx_.CardChanged();
}

void ReaderAttachment::PowerOn() {
  route();
  fnx_.PowerOn();
}

void ReaderAttachment::PowerOff() {
  route();
  fnx_.PowerOff();
}

bool ReaderAttachment::ResetCard(bool variant, std::uint8_t& first, std::uint32_t timeoutMs) {
  route();
  return fnx_.ResetCard(variant, first, timeoutMs);
}

bool ReaderAttachment::ReceiveByte(std::uint8_t& byte, std::uint32_t timeoutMs) {
  route();
  return fnx_.ReceiveByte(byte, timeoutMs);
}

bool ReaderAttachment::Transmit(std::size_t m, bool end, std::uint32_t g, std::uint32_t f,
                                std::vector<std::uint8_t>& answer,
                                std::span<const std::uint8_t> bytes) {
  route();
  fnx_.SetSpeed(cardSpeed_);
  return fnx_.Transmit(m, end, g, f, answer, bytes);
}

void ReaderAttachment::EndTransfer() {
  route();
  fnx_.EndTransfer();
}

DeviceIdentity ReaderAttachment::GetIdentity() {
  route();
  return fnx_.GetIdentity();
}

}  // namespace k52::chiphost
