// The PC/SC resource manager, as the CT-API libraries call it.
//
// One thin interface over the winscard API. Values follow the platform's
// resource manager: share modes, protocol masks, dispositions and card states
// below. The production implementation (pcsclite_api.h) translates them to and
// from pcsc-lite, whose card state is a bit mask; a fake (fake_pcsc.h) serves
// unit tests of paths a real daemon cannot produce.
//
// Every call returns a status: 0 on success, otherwise a PC/SC error code
// (SCARD_E_*, SCARD_W_*) or, for attributes the reader does not support,
// kErrorNotSupported. Out-arguments are valid only on success. Buffers belong
// to the caller; `len` arguments carry the capacity on entry and the length
// used on return.
#pragma once

#include <cstdint>
#include <string>

namespace k52::pcsc {

using Status = std::uint32_t;
using Context = std::int64_t;
using Handle = std::int64_t;

inline constexpr Status kSuccess = 0;
// What the platform answers for an attribute the reader does not support.
inline constexpr Status kErrorNotSupported = 50;

inline constexpr Status kNoService = 0x8010001D;           // SCARD_E_NO_SERVICE
inline constexpr Status kInvalidHandle = 0x80100003;       // SCARD_E_INVALID_HANDLE
inline constexpr Status kUnknownReader = 0x80100009;       // SCARD_E_UNKNOWN_READER
inline constexpr Status kInsufficientBuffer = 0x80100008;  // SCARD_E_INSUFFICIENT_BUFFER
inline constexpr Status kNoSmartcard = 0x8010000C;         // SCARD_E_NO_SMARTCARD
inline constexpr Status kCommError = 0x80100013;           // SCARD_F_COMM_ERROR
inline constexpr Status kRemovedCard = 0x80100069;         // SCARD_W_REMOVED_CARD
inline constexpr Status kSharingViolation = 0x8010000B;    // SCARD_E_SHARING_VIOLATION

enum ShareMode : std::uint32_t { kExclusive = 1, kShared = 2, kDirect = 3 };

enum Protocol : std::uint32_t {
  kProtocolUndefined = 0,
  kProtocolT0 = 1,
  kProtocolT1 = 2,
  kProtocolT0OrT1 = 3,
  kProtocolDefault = 0x80000000,
};

enum Disposition : std::uint32_t { kLeaveCard = 0, kResetCard = 1, kUnpowerCard = 2 };

enum CardState : std::uint32_t {
  kUnknown = 0,
  kAbsent = 1,
  kPresent = 2,
  kSwallowed = 3,
  kPowered = 4,
  kNegotiable = 5,
  kSpecific = 6,
};

enum Scope : std::uint32_t { kScopeUser = 0, kScopeSystem = 2 };

// Reader attributes the libraries read.
inline constexpr std::uint32_t kAttrVendorIfdType = 0x10101;
inline constexpr std::uint32_t kAttrVendorIfdSerialNo = 0x10103;
inline constexpr std::uint32_t kAttrUserAuthInputDevice = 0x50142;
inline constexpr std::uint32_t kAttrIccPresented = 0x7AEEE;
inline constexpr std::uint32_t kAuthDisplay = 0x80;
inline constexpr std::uint32_t kAuthKeyboard = 0x04;

class Api {
 public:
  virtual ~Api() = default;

  virtual Status establishContext(Scope scope, Context& context) = 0;
  virtual Status releaseContext(Context context) = 0;

  // NUL-terminated names followed by one more NUL; `len` in characters.
  virtual Status listReaders(Context context, const char* groups, char* names,
                             std::uint32_t& len) = 0;

  virtual Status connect(Context context, const std::string& reader, ShareMode mode,
                         std::uint32_t protocols, Handle& card, std::uint32_t& activeProtocol) = 0;
  virtual Status disconnect(Handle card, Disposition disposition) = 0;

  // Card state (CardState), active protocol and ATR of the connection.
  virtual Status status(Handle card, std::uint32_t& state, std::uint32_t& protocol,
                        std::uint8_t* atr, std::uint32_t& atrLen) = 0;

  virtual Status transmit(Handle card, std::uint32_t protocol, const std::uint8_t* command,
                          std::uint32_t commandLen, std::uint8_t* response,
                          std::uint32_t& responseLen) = 0;

  virtual Status getAttrib(Handle card, std::uint32_t attrId, std::uint8_t* value,
                           std::uint32_t& len) = 0;

  virtual Status control(Handle card, std::uint32_t code, const std::uint8_t* in,
                         std::uint32_t inLen, std::uint8_t* out, std::uint32_t outCap,
                         std::uint32_t& returned) = 0;
};

}  // namespace k52::pcsc
