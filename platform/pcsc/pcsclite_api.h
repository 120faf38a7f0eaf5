// The PC/SC interface on pcsc-lite's libpcsclite, the production path.
//
// pcsc-lite reports the card state as a bit mask; callers get the state
// numbers of pcsc.h (the highest state bit set). An attribute the reader's
// handler does not know comes back from pcscd as SCARD_E_UNSUPPORTED_FEATURE
// and is reported as kErrorNotSupported, which is what callers test for.
//
// A direct connection watches the reader rather than one card. pcsc-lite
// answers the state query of such a connection with SCARD_W_REMOVED_CARD once
// the card it saw has left; callers get the reader's present state instead,
// so that waiting for a card to leave sees it leave.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/pcsc/pcsc.h"

namespace k52::pcsc {

class PcscLiteApi final : public Api {
 public:
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

  // Maps pcsc-lite's state bit mask to a CardState number.
  static std::uint32_t cardStateFromMask(unsigned long mask);

 private:
  Status readerState(Context context, const char* reader, std::uint32_t& state,
                     std::uint32_t& protocol, std::uint8_t* atr, std::uint32_t& atrLen);

  struct DirectConnection {
    Context context = 0;
    std::string reader;
  };
  std::mutex mutex_;
  std::map<Handle, DirectConnection> directHandles_;
};

}  // namespace k52::pcsc
