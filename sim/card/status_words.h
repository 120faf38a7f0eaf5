// Status words the simulated card answers with.
#pragma once

#include <cstdint>

namespace k52::sim::sw {

inline constexpr std::uint16_t kOk = 0x9000;
inline constexpr std::uint16_t kWrongLength = 0x6700;
inline constexpr std::uint16_t kLogicalChannelNotSupported = 0x6881;
inline constexpr std::uint16_t kSecureMessagingNotSupported = 0x6882;
inline constexpr std::uint16_t kChainingNotSupported = 0x6884;
inline constexpr std::uint16_t kNoCurrentEf = 0x6986;
inline constexpr std::uint16_t kFileNotFound = 0x6A82;
inline constexpr std::uint16_t kRecordNotFound = 0x6A83;
inline constexpr std::uint16_t kIncorrectP1P2 = 0x6A86;
inline constexpr std::uint16_t kInsNotSupported = 0x6D00;
inline constexpr std::uint16_t kClaNotSupported = 0x6E00;
inline constexpr std::uint16_t kNoPreciseDiagnosis = 0x6F00;

// 6Cxx: the command asked for the wrong length; xx is the length available.
inline constexpr std::uint16_t wrongLe(std::uint8_t available) {
  return static_cast<std::uint16_t>(0x6C00 | available);
}

}  // namespace k52::sim::sw
