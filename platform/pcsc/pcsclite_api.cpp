#include "platform/pcsc/pcsclite_api.h"

#include <PCSC/winscard.h>

#include <algorithm>

namespace k52::pcsc {
namespace {

Status result(LONG rv) {
  return static_cast<Status>(rv);
}

DWORD pcscLiteProtocols(std::uint32_t protocols) {
  // pcsc-lite has no "default protocol" bit; any protocol the card offers is
  // what the caller means by it.
  if (protocols & kProtocolDefault) return SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
  return protocols;
}

}  // namespace

std::uint32_t PcscLiteApi::cardStateFromMask(unsigned long mask) {
  static constexpr struct {
    unsigned long bit;
    CardState state;
  } kOrder[] = {
      {SCARD_SPECIFIC, kSpecific},   {SCARD_NEGOTIABLE, kNegotiable}, {SCARD_POWERED, kPowered},
      {SCARD_SWALLOWED, kSwallowed}, {SCARD_PRESENT, kPresent},       {SCARD_ABSENT, kAbsent},
  };
  for (const auto& entry : kOrder) {
    if (mask & entry.bit) return entry.state;
  }
  return kUnknown;
}

Status PcscLiteApi::establishContext(Scope scope, Context& context) {
  SCARDCONTEXT ctx = 0;
  const LONG rv = SCardEstablishContext(scope, nullptr, nullptr, &ctx);
  if (rv == SCARD_S_SUCCESS) context = ctx;
  return result(rv);
}

Status PcscLiteApi::releaseContext(Context context) {
  return result(SCardReleaseContext(context));
}

Status PcscLiteApi::listReaders(Context context, const char* groups, char* names,
                                std::uint32_t& len) {
  DWORD size = len;
  const LONG rv = SCardListReaders(context, groups, names, &size);
  if (rv == SCARD_S_SUCCESS) len = static_cast<std::uint32_t>(size);
  return result(rv);
}

Status PcscLiteApi::connect(Context context, const std::string& reader, ShareMode mode,
                            std::uint32_t protocols, Handle& card, std::uint32_t& activeProtocol) {
  SCARDHANDLE handle = 0;
  DWORD active = 0;
  const LONG rv =
      SCardConnect(context, reader.c_str(), mode, pcscLiteProtocols(protocols), &handle, &active);
  if (rv == SCARD_S_SUCCESS) {
    card = handle;
    activeProtocol = static_cast<std::uint32_t>(active);
    if (mode == kDirect) {
      std::lock_guard lock(mutex_);
      directHandles_[card] = {context, reader};
    }
  }
  return result(rv);
}

Status PcscLiteApi::disconnect(Handle card, Disposition disposition) {
  {
    std::lock_guard lock(mutex_);
    directHandles_.erase(card);
  }
  return result(SCardDisconnect(card, disposition));
}

Status PcscLiteApi::status(Handle card, std::uint32_t& state, std::uint32_t& protocol,
                           std::uint8_t* atr, std::uint32_t& atrLen) {
  DWORD stateMask = 0;
  DWORD active = 0;
  DWORD size = atrLen;
  const LONG rv = SCardStatus(card, nullptr, nullptr, &stateMask, &active, atr, &size);
  if (rv == SCARD_W_REMOVED_CARD) {
    DirectConnection direct;
    {
      std::lock_guard lock(mutex_);
      auto it = directHandles_.find(card);
      if (it == directHandles_.end()) return result(rv);
      direct = it->second;
    }
    return readerState(direct.context, direct.reader.c_str(), state, protocol, atr, atrLen);
  }
  if (rv == SCARD_S_SUCCESS) {
    state = cardStateFromMask(stateMask);
    protocol = static_cast<std::uint32_t>(active);
    atrLen = static_cast<std::uint32_t>(size);
  }
  return result(rv);
}

Status PcscLiteApi::readerState(Context context, const char* reader, std::uint32_t& state,
                                std::uint32_t& protocol, std::uint8_t* atr, std::uint32_t& atrLen) {
  SCARD_READERSTATE watch{};
  watch.szReader = reader;
  watch.dwCurrentState = SCARD_STATE_UNAWARE;
  const LONG rv = SCardGetStatusChange(context, 0, &watch, 1);
  if (rv != SCARD_S_SUCCESS) return result(rv);
  const bool present = watch.dwEventState & SCARD_STATE_PRESENT;
  if (present && watch.cbAtr > atrLen) return result(SCARD_E_INSUFFICIENT_BUFFER);
  state = present ? kPresent : (watch.dwEventState & SCARD_STATE_EMPTY) ? kAbsent : kUnknown;
  protocol = kProtocolUndefined;
  atrLen = present ? static_cast<std::uint32_t>(watch.cbAtr) : 0;
  std::copy_n(watch.rgbAtr, atrLen, atr);
  return kSuccess;
}

Status PcscLiteApi::transmit(Handle card, std::uint32_t protocol, const std::uint8_t* command,
                             std::uint32_t commandLen, std::uint8_t* response,
                             std::uint32_t& responseLen) {
  const SCARD_IO_REQUEST sendPci{protocol, sizeof(SCARD_IO_REQUEST)};
  DWORD size = responseLen;
  const LONG rv = SCardTransmit(card, &sendPci, command, commandLen, nullptr, response, &size);
  if (rv == SCARD_S_SUCCESS) responseLen = static_cast<std::uint32_t>(size);
  return result(rv);
}

Status PcscLiteApi::getAttrib(Handle card, std::uint32_t attrId, std::uint8_t* value,
                              std::uint32_t& len) {
  DWORD size = len;
  const LONG rv = SCardGetAttrib(card, attrId, value, &size);
  if (rv == SCARD_E_UNSUPPORTED_FEATURE) return kErrorNotSupported;
  if (rv == SCARD_S_SUCCESS) len = static_cast<std::uint32_t>(size);
  return result(rv);
}

Status PcscLiteApi::control(Handle card, std::uint32_t code, const std::uint8_t* in,
                            std::uint32_t inLen, std::uint8_t* out, std::uint32_t outCap,
                            std::uint32_t& returned) {
  DWORD size = 0;
  const LONG rv = SCardControl(card, code, in, inLen, out, outCap, &size);
  returned = rv == SCARD_S_SUCCESS ? static_cast<std::uint32_t>(size) : 0;
  return result(rv);
}

}  // namespace k52::pcsc
