// The data objects of a CT-BCS data field: tag, one length byte, value.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace k52::ctbridge {

// A status word to answer with, or 0 to go on.
using ObjectVerdict = std::uint16_t;
inline constexpr ObjectVerdict kAccept = 0;
inline constexpr ObjectVerdict kWrongLength = 0x6700;
inline constexpr ObjectVerdict kNotAllowed = 0x6900;

// Hands every object to `visit` in order. An object that does not lie wholly
// inside the field stops the walk with 67 00; a verdict other than kAccept
// stops it with that verdict.
ObjectVerdict walkDataObjects(
    std::span<const std::uint8_t> field,
    const std::function<ObjectVerdict(std::uint8_t tag, std::span<const std::uint8_t> value)>&
        visit);

}  // namespace k52::ctbridge
