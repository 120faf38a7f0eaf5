// The keypad for standard PC/SC software: the part 10 PIN pad features of
// the reader (FEATURE_VERIFY_PIN_DIRECT, FEATURE_MODIFY_PIN_DIRECT) mapped
// onto the terminal's PIN commands 0x6D and 0x6E, which reach it through
// the reader driver's vendor request.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace k52::ifd {

inline constexpr std::uint32_t scardCtlCode(std::uint32_t code) {
  return 0x42000000 + code;
}

inline constexpr std::uint32_t kGetFeatureRequest = scardCtlCode(3400);
inline constexpr std::uint8_t kFeatureVerifyPinDirect = 0x06;
inline constexpr std::uint8_t kFeatureModifyPinDirect = 0x07;
// The control codes this reader gives the two features.
inline constexpr std::uint32_t kVerifyPinDirect = scardCtlCode(3500 + kFeatureVerifyPinDirect);
inline constexpr std::uint32_t kModifyPinDirect = scardCtlCode(3500 + kFeatureModifyPinDirect);

// The answer to CM_IOCTL_GET_FEATURE_REQUEST: tag, length 4, big-endian code.
std::vector<std::uint8_t> featureList();

// The vendor request (PIN command byte, then its CT-BCS data field as the
// reader driver takes it) for a PIN_VERIFY_STRUCTURE or a
// PIN_MODIFY_STRUCTURE; nullopt when the structure is malformed or asks
// for what the terminal cannot do (binary PINs, PIN positions in bits, a
// new PIN that does not follow the current one, no confirmation).
std::optional<std::vector<std::uint8_t>> verifyRequest(std::span<const std::uint8_t> structure);
std::optional<std::vector<std::uint8_t>> modifyRequest(std::span<const std::uint8_t> structure);

}  // namespace k52::ifd
