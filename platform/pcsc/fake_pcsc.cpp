#include "platform/pcsc/fake_pcsc.h"

#include <algorithm>
#include <cstring>

namespace k52::pcsc {

void FakeReader::insertAt(Duration at, FakeCard card) {
  events_.push_back({at, std::move(card)});
}

void FakeReader::removeAt(Duration at) {
  events_.push_back({at, std::nullopt});
}

FakeReader& FakePcsc::addReader(const std::string& name) {
  return readers_[name];
}

const FakeCard* FakePcsc::currentCard(FakeReader& reader) {
  std::stable_sort(reader.events_.begin() + static_cast<std::ptrdiff_t>(reader.seenEvents_),
                   reader.events_.end(), [](auto& a, auto& b) { return a.at < b.at; });
  const Duration now = clock_.now();
  while (reader.seenEvents_ < reader.events_.size() &&
         reader.events_[reader.seenEvents_].at <= now) {
    // Every change of card switches it off; an arrival marks the change.
    reader.powered_ = false;
    reader.cardChanged_ = reader.events_[reader.seenEvents_].card.has_value();
    ++reader.seenEvents_;
  }
  if (reader.seenEvents_ == 0) return nullptr;
  const auto& last = reader.events_[reader.seenEvents_ - 1].card;
  return last ? &*last : nullptr;
}

FakePcsc::Connection* FakePcsc::connection(Handle card) {
  auto it = handles_.find(card);
  return it == handles_.end() ? nullptr : &it->second;
}

Status FakePcsc::establishContext(Scope, Context& context) {
  calls.push_back("establishContext");
  if (establishFailure) return *establishFailure;
  context = nextContext_++;
  contexts_[context] = true;
  return kSuccess;
}

Status FakePcsc::releaseContext(Context context) {
  calls.push_back("releaseContext");
  return contexts_.erase(context) ? kSuccess : kInvalidHandle;
}

Status FakePcsc::listReaders(Context context, const char*, char* names, std::uint32_t& len) {
  calls.push_back("listReaders");
  if (!contexts_.count(context)) return kInvalidHandle;
  std::string multi;
  for (const auto& [name, reader] : readers_) multi.append(name).push_back('\0');
  multi.push_back('\0');
  if (names == nullptr) {
    len = static_cast<std::uint32_t>(multi.size());
    return kSuccess;
  }
  if (multi.size() > len) return kInsufficientBuffer;
  std::memcpy(names, multi.data(), multi.size());
  len = static_cast<std::uint32_t>(multi.size());
  return kSuccess;
}

Status FakePcsc::connect(Context context, const std::string& name, ShareMode mode,
                         std::uint32_t protocols, Handle& card, std::uint32_t& activeProtocol) {
  calls.push_back("connect");
  if (connectFailure) return *connectFailure;
  if (!contexts_.count(context)) return kInvalidHandle;
  auto it = readers_.find(name);
  if (it == readers_.end()) return kUnknownReader;
  FakeReader& reader = it->second;
  const FakeCard* inserted = currentCard(reader);
  std::uint32_t chosen = kProtocolUndefined;
  if (!(mode == kDirect && protocols == kProtocolUndefined)) {
    if (!inserted) return kNoSmartcard;
    const std::uint32_t wanted = protocols & kProtocolDefault ? kProtocolT0OrT1 : protocols;
    const std::uint32_t common = wanted & inserted->protocols;
    if (!common) return 0x8010000F;  // SCARD_E_PROTO_MISMATCH
    chosen = common & kProtocolT0 ? kProtocolT0 : kProtocolT1;
    reader.powered_ = true;
    reader.activeProtocol_ = chosen;
    reader.cardChanged_ = false;
  }
  card = nextHandle_++;
  handles_[card] = {name, chosen};
  activeProtocol = chosen;
  return kSuccess;
}

Status FakePcsc::disconnect(Handle card, Disposition disposition) {
  calls.push_back("disconnect");
  dispositions.push_back(disposition);
  Connection* conn = connection(card);
  if (!conn) return kInvalidHandle;
  if (disposition == kUnpowerCard) readers_[conn->reader].powered_ = false;
  handles_.erase(card);
  return disconnectFailure.value_or(kSuccess);
}

Status FakePcsc::status(Handle card, std::uint32_t& state, std::uint32_t& protocol,
                        std::uint8_t* atr, std::uint32_t& atrLen) {
  calls.push_back("status");
  if (statusFailure) return *statusFailure;
  Connection* conn = connection(card);
  if (!conn) return kInvalidHandle;
  FakeReader& reader = readers_[conn->reader];
  const FakeCard* inserted = currentCard(reader);
  if (!inserted) {
    state = kAbsent;
    protocol = conn->protocol;
    atrLen = 0;
    return kSuccess;
  }
  state = !reader.powered_ ? kPresent : conn->protocol ? kSpecific : kPowered;
  // Like the resource manager: the protocol the card runs, whatever the handle.
  protocol = conn->protocol ? conn->protocol : reader.powered_ ? reader.activeProtocol_ : 0;
  if (inserted->atr.size() > atrLen) return kInsufficientBuffer;
  std::copy(inserted->atr.begin(), inserted->atr.end(), atr);
  atrLen = static_cast<std::uint32_t>(inserted->atr.size());
  return kSuccess;
}

Status FakePcsc::transmit(Handle card, std::uint32_t, const std::uint8_t* command,
                          std::uint32_t commandLen, std::uint8_t* response,
                          std::uint32_t& responseLen) {
  calls.push_back("transmit");
  if (transmitFailure) return *transmitFailure;
  Connection* conn = connection(card);
  if (!conn) return kInvalidHandle;
  const FakeCard* inserted = currentCard(readers_[conn->reader]);
  if (!inserted) return kRemovedCard;
  std::vector<std::uint8_t> answer{0x90, 0x00};
  if (inserted->respond) answer = inserted->respond({command, commandLen});
  if (answer.size() > responseLen) return kInsufficientBuffer;
  std::copy(answer.begin(), answer.end(), response);
  responseLen = static_cast<std::uint32_t>(answer.size());
  return kSuccess;
}

Status FakePcsc::getAttrib(Handle card, std::uint32_t attrId, std::uint8_t* value,
                           std::uint32_t& len) {
  calls.push_back("getAttrib");
  Connection* conn = connection(card);
  if (!conn) return kInvalidHandle;
  FakeReader& reader = readers_[conn->reader];
  if (auto failure = reader.attributeFailures.find(attrId);
      failure != reader.attributeFailures.end()) {
    return failure->second;
  }
  std::vector<std::uint8_t> bytes;
  if (attrId == kAttrIccPresented && reader.tracksCardChange) {
    currentCard(reader);
    bytes = {static_cast<std::uint8_t>(reader.cardChanged_), 0, 0, 0};
  } else if (auto it = reader.attributes.find(attrId); it != reader.attributes.end()) {
    bytes = it->second;
  } else {
    return kErrorNotSupported;
  }
  if (bytes.size() > len) return kInsufficientBuffer;
  std::copy(bytes.begin(), bytes.end(), value);
  len = static_cast<std::uint32_t>(bytes.size());
  return kSuccess;
}

Status FakePcsc::control(Handle card, std::uint32_t code, const std::uint8_t* in,
                         std::uint32_t inLen, std::uint8_t* out, std::uint32_t outCap,
                         std::uint32_t& returned) {
  calls.push_back("control");
  returned = 0;
  Connection* conn = connection(card);
  if (!conn) return kInvalidHandle;
  FakeReader& reader = readers_[conn->reader];
  if (!reader.control) return kErrorNotSupported;
  const auto answer = reader.control(code, {in, inLen});
  if (answer.size() > outCap) return kInsufficientBuffer;
  std::copy(answer.begin(), answer.end(), out);
  returned = static_cast<std::uint32_t>(answer.size());
  return kSuccess;
}

}  // namespace k52::pcsc
