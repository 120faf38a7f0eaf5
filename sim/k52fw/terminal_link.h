// The command and answer codes of the terminal link. A command is a byte
// string [command][parameters]; on the line it travels behind a two-byte
// big-endian length, which the keyboard wire and the serial line add and
// strip. Answers are [answer code][data] the same way.
#pragma once

#include <cstdint>

namespace k52::sim::link {

inline constexpr std::uint8_t kCheck = 0x60;
inline constexpr std::uint8_t kSetMode = 0x61;
inline constexpr std::uint8_t kPowerOn = 0x62;
inline constexpr std::uint8_t kPowerOff = 0x63;
inline constexpr std::uint8_t kWarmReset = 0x64;
inline constexpr std::uint8_t kStatus = 0x65;
inline constexpr std::uint8_t kCardExchange = 0x67;
inline constexpr std::uint8_t kRetry = 0x68;
inline constexpr std::uint8_t kCapabilities = 0x69;
inline constexpr std::uint8_t kRemoved = 0x6A;
inline constexpr std::uint8_t kCardExchangeExtended = 0x6C;
inline constexpr std::uint8_t kVerifyPin = 0x6D;
inline constexpr std::uint8_t kModifyPin = 0x6E;

inline constexpr std::uint8_t kAnswerWaiting = 0x63;  // T=0 work waiting time ran out
inline constexpr std::uint8_t kAnswerData = 0x64;
inline constexpr std::uint8_t kAnswerError = 0x67;  // error, no card, or no answer from it
inline constexpr std::uint8_t kAnswerCapabilities = 0x68;

inline constexpr std::uint8_t kModeBytes = 5;

// The status byte of the status answer.
inline constexpr std::uint8_t kStatusNoCard = 0x00;
inline constexpr std::uint8_t kStatusInserted = 0x08;
inline constexpr std::uint8_t kStatusAtrReceived = 0x10;
inline constexpr std::uint8_t kKindT0 = 0x01;
inline constexpr std::uint8_t kKindT1 = 0x02;

// The card type of the status answer.
inline constexpr std::uint8_t kCardTypeNone = 0;
inline constexpr std::uint8_t kCardTypeUnpowered = 1;
inline constexpr std::uint8_t kCardTypeNegotiable = 3;
inline constexpr std::uint8_t kCardTypeSpecific = 4;

}  // namespace k52::sim::link
