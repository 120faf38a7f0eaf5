// A plain PC/SC client of the private pcscd, for the handler's tests.
#pragma once

#include <reader.h>
#include <winscard.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace k52::ifd::test {

using Bytes = std::vector<std::uint8_t>;

class PcscClient {
 public:
  PcscClient() {
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_) != SCARD_S_SUCCESS) {
      throw std::runtime_error("no PC/SC context");
    }
  }
  ~PcscClient() {
    disconnect();
    SCardReleaseContext(context_);
  }
  PcscClient(const PcscClient&) = delete;
  PcscClient& operator=(const PcscClient&) = delete;

  SCARDCONTEXT context() const { return context_; }

  LONG connect(const std::string& reader, DWORD share, DWORD protocols) {
    disconnect();
    return SCardConnect(context_, reader.c_str(), share, protocols, &card_, &protocol_);
  }
  void disconnect(DWORD disposition = SCARD_LEAVE_CARD) {
    if (card_) SCardDisconnect(card_, disposition);
    card_ = 0;
  }
  DWORD protocol() const { return protocol_; }

  // The answer with its status word; empty on failure.
  Bytes transmit(const Bytes& apdu) {
    Bytes answer(258);
    DWORD length = static_cast<DWORD>(answer.size());
    const SCARD_IO_REQUEST* pci = protocol_ == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    if (SCardTransmit(card_, pci, apdu.data(), static_cast<DWORD>(apdu.size()), nullptr,
                      answer.data(), &length) != SCARD_S_SUCCESS) {
      return {};
    }
    answer.resize(length);
    return answer;
  }
  LONG attribute(DWORD tag, Bytes& value) {
    value.assign(264, 0);
    DWORD length = static_cast<DWORD>(value.size());
    const LONG rv = SCardGetAttrib(card_, tag, value.data(), &length);
    value.resize(rv == SCARD_S_SUCCESS ? length : 0);
    return rv;
  }
  LONG control(DWORD code, const Bytes& in, Bytes& out, DWORD capacity = 64) {
    out.assign(capacity, 0);
    DWORD returned = 0;
    const LONG rv = SCardControl(card_, code, in.data(), static_cast<DWORD>(in.size()), out.data(),
                                 capacity, &returned);
    out.resize(rv == SCARD_S_SUCCESS ? returned : 0);
    return rv;
  }
  // Waits until the reader's state has SCARD_STATE_PRESENT set or clear.
  bool waitForCard(const std::string& reader, bool present, DWORD timeoutMs) {
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    for (;;) {
      const LONG rv = SCardGetStatusChange(context_, timeoutMs, &state, 1);
      if (rv != SCARD_S_SUCCESS) return false;
      if (((state.dwEventState & SCARD_STATE_PRESENT) != 0) == present) return true;
      state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
    }
  }

 private:
  SCARDCONTEXT context_ = 0;
  SCARDHANDLE card_ = 0;
  DWORD protocol_ = 0;
};

}  // namespace k52::ifd::test
