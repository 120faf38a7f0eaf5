#include "sim/kbd8042/controller8042.h"

#include <utility>

namespace k52::sim {

Controller8042::Controller8042(Timeline& timeline, Pic& pic, Controller8042Config config)
    : timeline_(timeline), pic_(pic), config_(config), commandByte_(config.commandByte) {}

std::uint8_t Controller8042::readPort(std::uint16_t port) {
  if (port == kCommandPort) return status();
  if (port != kDataPort) return 0xFF;
  // An empty output buffer still reads as its last contents.
  if (output_) lastOutput_ = *output_;
  output_.reset();
  outputAux_ = false;
  updateIrq();
  pump();
  return lastOutput_;
}

void Controller8042::writePort(std::uint16_t port, std::uint8_t value) {
  if (port == kCommandPort) {
    command(value);
  } else if (port == kDataPort) {
    if (expectingCommandByte_) {
      expectingCommandByte_ = false;
      setCommandByte(value);
    } else {
      sendToKeyboard(value);
    }
  }
}

void Controller8042::connectKeyboard(std::function<void(std::uint8_t)> sink) {
  keyboard_ = std::move(sink);
}

void Controller8042::fromKeyboard(std::uint8_t byte) {
  enqueue(keyboardQueue_, byte);
}

void Controller8042::fromAux(std::uint8_t byte) {
  enqueue(auxQueue_, byte);
}

std::uint8_t Controller8042::status() const {
  std::uint8_t s = 0;
  if (output_) s |= kStatusOutputFull;
  if (input_) s |= kStatusInputFull;
  if (output_ && outputAux_) s |= kStatusAuxData;
  return s;
}

void Controller8042::command(std::uint8_t code) {
  // A new command abandons a pending command-byte write.
  expectingCommandByte_ = false;
  switch (code) {
    case kReadCommandByte:
      reply_ = commandByte_;
      pump();
      break;
    case kWriteCommandByte:
      expectingCommandByte_ = true;
      break;
    case kDisableAux:
      setCommandByte(commandByte_ | kAuxDisabled);
      break;
    case kEnableAux:
      setCommandByte(commandByte_ & ~kAuxDisabled);
      break;
    case kDisableKeyboard:
      setCommandByte(commandByte_ | kKeyboardDisabled);
      break;
    case kEnableKeyboard:
      setCommandByte(commandByte_ & ~kKeyboardDisabled);
      break;
    default:
      break;
  }
}

void Controller8042::setCommandByte(std::uint8_t value) {
  commandByte_ = value;
  updateIrq();
  pump();
}

void Controller8042::sendToKeyboard(std::uint8_t byte) {
  // The line is still busy with the previous byte: the input buffer is
  // overwritten and the earlier byte never reaches the keyboard, as on the
  // real chip. The transfer already under way carries the new value.
  if (input_) {
    ++overwrittenHostBytes_;
    input_ = byte;
    return;
  }
  input_ = byte;
  timeline_.schedule(config_.lineTime, [this] {
    const std::uint8_t delivered = *input_;
    input_.reset();
    if (keyboard_) keyboard_(delivered);
  });
}

void Controller8042::enqueue(std::deque<std::uint8_t>& queue, std::uint8_t byte) {
  if (queue.size() >= config_.queueCapacity) {
    ++droppedBytes_;
    return;
  }
  queue.push_back(byte);
  pump();
}

void Controller8042::pump() {
  if (output_) return;
  if (reply_) {
    fillOutput(*reply_, false);
    reply_.reset();
    return;
  }
  if (transferScheduled_) return;
  const bool keyboardWaiting = keyboardEnabled() && !keyboardQueue_.empty();
  const bool auxWaiting = auxEnabled() && !auxQueue_.empty();
  if (!keyboardWaiting && !auxWaiting) return;
  transferScheduled_ = true;
  timeline_.schedule(config_.lineTime, [this] { transfer(); });
}

void Controller8042::transfer() {
  transferScheduled_ = false;
  // Meanwhile a controller reply may have taken the buffer, or the host may
  // have disabled the interface the byte was coming from.
  if (!output_ && !reply_) {
    if (keyboardEnabled() && !keyboardQueue_.empty()) {
      const std::uint8_t byte = keyboardQueue_.front();
      keyboardQueue_.pop_front();
      fillOutput(byte, false);
    } else if (auxEnabled() && !auxQueue_.empty()) {
      const std::uint8_t byte = auxQueue_.front();
      auxQueue_.pop_front();
      fillOutput(byte, true);
    }
  }
  pump();
}

void Controller8042::fillOutput(std::uint8_t byte, bool aux) {
  output_ = byte;
  outputAux_ = aux;
  updateIrq();
}

void Controller8042::updateIrq() {
  // IRQ 1 follows output-buffer-full for keyboard-side bytes while the
  // command byte enables it; the interrupt controller sees its rising edge.
  const bool level = output_ && !outputAux_ && (commandByte_ & kKeyboardInterrupt) != 0;
  if (level && !irqLine_) pic_.raise(Pic::kKeyboardLine);
  irqLine_ = level;
}

}  // namespace k52::sim
