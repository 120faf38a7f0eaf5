// An in-process PC/SC resource manager for unit tests.
//
// It serves paths a real daemon cannot be made to produce on demand: refused
// connections, failing attribute reads, transmission errors, a card that
// arrives or leaves at a given moment. Card arrival and removal are scheduled
// on a Clock, so a test on a VirtualClock runs a 30 s wait in no real time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/pcsc/pcsc.h"

namespace k52::pcsc {

struct FakeCard {
  std::vector<std::uint8_t> atr;
  std::uint32_t protocols = kProtocolT1;  // the protocols the card offers
  // The card's answer to an APDU; by default 90 00.
  std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t>)> respond;
};

class FakeReader {
 public:
  // The card is in the reader from `at` on (clock time), until removeAt.
  void insertAt(Duration at, FakeCard card);
  void removeAt(Duration at);

  // An attribute value; attributes not set answer kErrorNotSupported. The
  // card-changed attribute is served from the reader's own flag when
  // `tracksCardChange` is set.
  std::map<std::uint32_t, std::vector<std::uint8_t>> attributes;
  std::map<std::uint32_t, Status> attributeFailures;
  bool tracksCardChange = false;

  // Answers a control request.
  std::function<std::vector<std::uint8_t>(std::uint32_t code, std::span<const std::uint8_t>)>
      control;

 private:
  friend class FakePcsc;
  struct Event {
    Duration at;
    std::optional<FakeCard> card;
  };
  std::vector<Event> events_;
  std::size_t seenEvents_ = 0;
  bool powered_ = false;
  std::uint32_t activeProtocol_ = 0;
  bool cardChanged_ = false;
};

class FakePcsc final : public Api {
 public:
  explicit FakePcsc(Clock& clock) : clock_(clock) {}

  FakeReader& addReader(const std::string& name);
  FakeReader& reader(const std::string& name) { return readers_.at(name); }

  // Forced results: when set, the call fails with that status.
  std::optional<Status> establishFailure;
  std::optional<Status> connectFailure;
  std::optional<Status> statusFailure;
  std::optional<Status> transmitFailure;
  std::optional<Status> disconnectFailure;

  // Every call by name ("connect", "status", ...), in order.
  std::vector<std::string> calls;
  // Dispositions of every disconnect, in order.
  std::vector<Disposition> dispositions;
  // Contexts currently established.
  std::size_t liveContexts() const { return contexts_.size(); }
  std::size_t liveHandles() const { return handles_.size(); }

  Status establishContext(Scope scope, Context& context) override;
  Status releaseContext(Context context) override;
  Status listReaders(Context context, const char* groups, char* names, std::uint32_t& len) override;
  Status connect(Context context, const std::string& reader, ShareMode mode,
                 std::uint32_t protocols, Handle& card, std::uint32_t& activeProtocol) override;
  Status disconnect(Handle card, Disposition disposition) override;
  Status status(Handle card, std::uint32_t& state, std::uint32_t& protocol, std::uint8_t* atr,
                std::uint32_t& atrLen) override;
  Status transmit(Handle card, std::uint32_t protocol, const std::uint8_t* command,
                  std::uint32_t commandLen, std::uint8_t* response,
                  std::uint32_t& responseLen) override;
  Status getAttrib(Handle card, std::uint32_t attrId, std::uint8_t* value,
                   std::uint32_t& len) override;
  Status control(Handle card, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLen,
                 std::uint8_t* out, std::uint32_t outCap, std::uint32_t& returned) override;

 private:
  struct Connection {
    std::string reader;
    std::uint32_t protocol;
  };
  // Applies the card events due by now and returns the card in the reader.
  const FakeCard* currentCard(FakeReader& reader);
  Connection* connection(Handle card);

  Clock& clock_;
  std::map<std::string, FakeReader> readers_;
  std::map<Context, bool> contexts_;
  std::map<Handle, Connection> handles_;
  Context nextContext_ = 0x1000;
  Handle nextHandle_ = 0x2000;
};

}  // namespace k52::pcsc
