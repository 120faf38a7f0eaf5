// The ICC status in the short form of the keyboard terminal library, from
// the answer of a CT-BCS library (the heart of libctstatus.so).
#pragma once

#include <cstdint>

#include "tools/purse/ctapi_binding.h"

namespace k52::balview {

// Rewrites the answer a CT-BCS library's `data` gave to GET STATUS of the
// ICC status object (20 13 00 80) on terminal `ctn`, in `response` (room
// for at least five bytes) with *lenr bytes:
//   80 01 S 90 00            -> S 90 00
//   64 00 (no status known)  -> REQUEST ICC without prompt, 20 12 01 F0, is
//                               sent instead: 90 01 or 62 01 -> 05 90 00,
//                               62 00 -> 00 90 00
// Any other answer stays as it is. Returns whether it rewrote the answer.
bool shortenIccStatus(CtDataFn data, std::uint16_t ctn, std::uint16_t* lenr,
                      std::uint8_t* response);

// Whether a command for `dad` is GET STATUS of the ICC status object.
bool asksIccStatus(std::uint8_t dad, std::uint16_t lenc, const std::uint8_t* command);

}  // namespace k52::balview
