// The reader as the IFD handler entry points use it: the handler's calls in
// plain types, each mapped onto varnel's device requests. Kept apart from
// the entry points because pcsc-lite's headers define, as macros, names the
// kernel model declares.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "drivers/ifd/keyboard_link.h"
#include "platform/win32/prefix.h"

namespace k52::ifd {

enum class Outcome {
  kSuccess,
  kBufferTooSmall,
  kNotSupported,  // request, protocol or attribute
  kTimeout,
  kNoCard,
  kFailed,
};

enum class PowerAction { kUp, kDown, kReset };

class ReaderHost;
class CardTracker;

class IfdReader {
 public:
  // Starts the reader of `prefix`; throws std::runtime_error when it does
  // not come up.
  IfdReader(win32::Prefix prefix, const KeyboardSource& keyboard);
  // Ends tracking, closes the reader and unloads its drivers.
  ~IfdReader();
  IfdReader(const IfdReader&) = delete;
  IfdReader& operator=(const IfdReader&) = delete;

  // Power up (cold reset), power down or warm reset; `atr` receives the
  // card's ATR (empty after a power down).
  Outcome power(PowerAction action, std::vector<std::uint8_t>& atr);
  // `mask`: 1 for T=0, 2 for T=1.
  Outcome setProtocol(std::uint32_t mask);
  // An APDU with the protocol of `mask`; `answer` gets at most `capacity`
  // bytes of the card's answer with its status word.
  Outcome transmit(std::uint32_t mask, std::span<const std::uint8_t> apdu,
                   std::vector<std::uint8_t>& answer, std::size_t capacity);
  // An attribute of the reader (vendor name, IFD type, the card-changed
  // vendor attribute 0x7AEEE, ATR, ...), at most `capacity` bytes.
  Outcome attribute(std::uint32_t tag, std::vector<std::uint8_t>& value, std::size_t capacity);
  // A control request: the vendor request 0x330000 passed through, the
  // PC/SC part 10 feature list, and the two PIN_*_DIRECT features.
  Outcome control(std::uint32_t code, std::span<const std::uint8_t> in,
                  std::vector<std::uint8_t>& out, std::size_t capacity);

  // Card presence for pcscd's polling thread (see CardTracker).
  bool present();
  void waitForChange(std::chrono::milliseconds timeout);
  void wakeWaiting();

 private:
  std::unique_ptr<ReaderHost> host_;
  std::unique_ptr<CardTracker> tracker_;
};

}  // namespace k52::ifd
