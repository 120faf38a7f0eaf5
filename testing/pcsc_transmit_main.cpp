// k52-pcsc-transmit: sends APDUs to the card in a reader through PC/SC and
// prints each response in hex. A small client for scripts and smoke tests.
#include <winscard.h>

#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/text/hex.h"

namespace {

constexpr const char* kUsage =
    "usage: k52-pcsc-transmit [--wait SECONDS] READER APDU-HEX...\n"
    "Waits up to SECONDS (default 5) for a card in READER, connects with T=0 or\n"
    "T=1 and prints one line of response hex per APDU. Exits 1 on any error.\n";

int fail(const char* what, LONG rv) {
  std::fprintf(stderr, "k52-pcsc-transmit: %s: %s\n", what, pcsc_stringify_error(rv));
  return 1;
}

int run(SCARDCONTEXT context, const char* reader, DWORD waitMs, char** apdus, int count) {
  SCARD_READERSTATE state{};
  state.szReader = reader;
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  LONG rv = SCardGetStatusChange(context, 0, &state, 1);
  if (rv != SCARD_S_SUCCESS) return fail("reader", rv);
  if (!(state.dwEventState & SCARD_STATE_PRESENT)) {
    state.dwCurrentState = state.dwEventState;
    rv = SCardGetStatusChange(context, waitMs, &state, 1);
    if (rv != SCARD_S_SUCCESS || !(state.dwEventState & SCARD_STATE_PRESENT)) {
      return fail("no card", rv == SCARD_S_SUCCESS ? SCARD_E_NO_SMARTCARD : rv);
    }
  }
  SCARDHANDLE card;
  DWORD protocol;
  rv = SCardConnect(context, reader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                    &card, &protocol);
  if (rv != SCARD_S_SUCCESS) return fail("connect", rv);
  const SCARD_IO_REQUEST* pci = protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
  int status = 0;
  for (int i = 0; i < count && status == 0; ++i) {
    const auto command = k52::text::parseHex(apdus[i]);
    if (!command || command->size() < 4) {
      std::fprintf(stderr, "k52-pcsc-transmit: not an APDU: %s\n", apdus[i]);
      status = 2;
      break;
    }
    BYTE response[65538];
    DWORD length = sizeof response;
    rv = SCardTransmit(card, pci, command->data(), static_cast<DWORD>(command->size()), nullptr,
                       response, &length);
    if (rv != SCARD_S_SUCCESS) {
      status = fail("transmit", rv);
      break;
    }
    for (DWORD j = 0; j < length; ++j) std::printf("%02X", response[j]);
    std::printf("\n");
  }
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  DWORD waitMs = 5000;
  bool usable = true;
  if (argc > 2 && std::strcmp(argv[1], "--wait") == 0) {
    unsigned seconds = 0;
    const char* end = argv[2] + std::strlen(argv[2]);
    const auto [stop, ec] = std::from_chars(argv[2], end, seconds);
    usable = ec == std::errc{} && stop == end && seconds <= 3600;
    waitMs = static_cast<DWORD>(seconds * 1000);
    first = 3;
  }
  if (!usable || argc - first < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  SCARDCONTEXT context;
  const LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
  if (rv != SCARD_S_SUCCESS) return fail("pcscd", rv);
  const int status = run(context, argv[first], waitMs, argv + first + 1, argc - first - 1);
  SCardReleaseContext(context);
  return status;
}
