#include "sim/card/t0_transport.h"

#include <algorithm>

#include "sim/card/status_words.h"

namespace k52::sim {
namespace {

constexpr std::size_t kHeaderSize = 5;

// P3 of an outgoing command: 0 asks for 256 bytes.
std::size_t expectedLength(std::uint8_t p3) {
  return p3 == 0 ? 256 : p3;
}

std::uint16_t swOf(std::span<const std::uint8_t> response) {
  return static_cast<std::uint16_t>(response[response.size() - 2] << 8 |
                                    response[response.size() - 1]);
}

}  // namespace

bool carriesCommandData(std::uint8_t ins) {
  switch (ins) {
    case 0x0E:  // ERASE BINARY
    case 0x20:  // VERIFY
    case 0x22:  // MANAGE SECURITY ENVIRONMENT
    case 0x24:  // CHANGE REFERENCE DATA
    case 0x26:  // DISABLE VERIFICATION REQUIREMENT
    case 0x28:  // ENABLE VERIFICATION REQUIREMENT
    case 0x2A:  // PERFORM SECURITY OPERATION
    case 0x2C:  // RESET RETRY COUNTER
    case 0x82:  // EXTERNAL AUTHENTICATE
    case 0x86:  // GENERAL AUTHENTICATE
    case 0x88:  // INTERNAL AUTHENTICATE
    case 0xA4:  // SELECT
    case 0xD6:  // UPDATE BINARY
    case 0xD0:  // WRITE BINARY
    case 0xDA:  // PUT DATA
    case 0xDC:  // UPDATE RECORD
    case 0xE2:  // APPEND RECORD
      return true;
    default:
      return false;
  }
}

T0Transport::T0Transport(Card& card, T0Options options) : card_(card), options_(options) {}

void T0Transport::restart() {
  header_.clear();
  data_.clear();
  receivingData_ = false;
  pending_.clear();
  pendingSw_ = 0;
}

std::vector<std::uint8_t> T0Transport::receive(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> out;
  if (!card_.powered()) return out;
  for (const std::uint8_t byte : bytes) {
    auto sent = receiveByte(byte);
    out.insert(out.end(), sent.begin(), sent.end());
  }
  return out;
}

std::vector<std::uint8_t> T0Transport::receiveByte(std::uint8_t byte) {
  if (receivingData_) {
    data_.push_back(byte);
    if (data_.size() == dataExpected_) return onCommandData();
    return options_.byteByByte ? dataProcedure() : std::vector<std::uint8_t>{};
  }
  header_.push_back(byte);
  if (header_.size() < kHeaderSize) return {};
  if (muteCommands_ > 0) {
    // The card never asks for a muted command's data bytes.
    --muteCommands_;
    header_.clear();
    return {};
  }
  return onHeader();
}

std::vector<std::uint8_t> T0Transport::onHeader() {
  const std::uint8_t ins = header_[1];
  const std::uint8_t p3 = header_[4];
  // INS values 6x and 9x would read as status bytes.
  if ((ins & 0xF0) == 0x60 || (ins & 0xF0) == 0x90) return status(sw::kInsNotSupported);

  if (ins == kGetResponse && !pending_.empty()) {
    const std::size_t wanted = expectedLength(p3);
    if (wanted > pending_.size())
      return status(sw::wrongLe(static_cast<std::uint8_t>(pending_.size())));
    std::vector<std::uint8_t> part(pending_.begin(),
                                   pending_.begin() + static_cast<std::ptrdiff_t>(wanted));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(wanted));
    const std::uint16_t sw = pending_.empty()
                                 ? pendingSw_
                                 : static_cast<std::uint16_t>(
                                       0x6100 | std::min<std::size_t>(pending_.size(), 256) % 256);
    part.push_back(static_cast<std::uint8_t>(sw >> 8));
    part.push_back(static_cast<std::uint8_t>(sw));
    return answerWithData(std::move(part));
  }
  pending_.clear();

  if (carriesCommandData(ins) && p3 != 0) {
    dataExpected_ = p3;
    data_.clear();
    receivingData_ = true;
    return dataProcedure();
  }
  // Header only (case 1), or an answer of P3 bytes expected (case 2).
  std::vector<std::uint8_t> apdu(header_.begin(), header_.end());
  if (carriesCommandData(ins)) apdu.pop_back();
  auto response = card_.process(apdu);
  if (response.size() < 2) {
    header_.clear();
    return {};
  }
  if (response.size() == 2) return status(swOf(response));
  const std::size_t dataSize = response.size() - 2;
  if (dataSize != expectedLength(p3)) {
    return status(sw::wrongLe(static_cast<std::uint8_t>(dataSize)));
  }
  return answerWithData(std::move(response));
}

std::vector<std::uint8_t> T0Transport::onCommandData() {
  receivingData_ = false;
  // Le 00 lets the card answer with whatever data the command produces
  // (case 4); the data then waits for GET RESPONSE.
  std::vector<std::uint8_t> apdu(header_.begin(), header_.end());
  apdu.insert(apdu.end(), data_.begin(), data_.end());
  apdu.push_back(0x00);
  data_.clear();
  auto response = card_.process(apdu);
  if (response.size() < 2) {
    header_.clear();
    return {};
  }
  if (response.size() == 2) return status(swOf(response));
  pendingSw_ = swOf(response);
  pending_.assign(response.begin(), response.end() - 2);
  return status(static_cast<std::uint16_t>(0x6100 | (pending_.size() % 256)));
}

std::vector<std::uint8_t> T0Transport::answerWithData(std::vector<std::uint8_t> response) {
  const std::uint8_t ins = header_[1];
  header_.clear();
  // The data bytes go out behind one INS, or each behind its own INS XOR FF.
  const auto data = std::span(response).first(response.size() - 2);
  std::vector<std::uint8_t> out;
  if (options_.byteByByte) {
    for (const std::uint8_t byte : data) {
      const auto ack = procedure(static_cast<std::uint8_t>(ins ^ 0xFF));
      out.insert(out.end(), ack.begin(), ack.end());
      out.push_back(byte);
    }
  } else {
    out = procedure(ins);
    out.insert(out.end(), data.begin(), data.end());
  }
  const auto sw = status(swOf(response));
  out.insert(out.end(), sw.begin(), sw.end());
  return out;
}

std::vector<std::uint8_t> T0Transport::status(std::uint16_t sw) {
  header_.clear();
  std::vector<std::uint8_t> out(options_.nullBytes, kNull);
  out.push_back(static_cast<std::uint8_t>(sw >> 8));
  out.push_back(static_cast<std::uint8_t>(sw));
  return out;
}

std::vector<std::uint8_t> T0Transport::procedure(std::uint8_t byte) {
  std::vector<std::uint8_t> out(options_.nullBytes, kNull);
  out.push_back(byte);
  return out;
}

std::vector<std::uint8_t> T0Transport::dataProcedure() {
  const std::uint8_t ins = header_[1];
  return procedure(options_.byteByByte ? static_cast<std::uint8_t>(ins ^ 0xFF) : ins);
}

}  // namespace k52::sim
