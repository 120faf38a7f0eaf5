#include "platform/nt/serial/simulated_line.h"

#include <deque>
#include <utility>

namespace k52::nt::serial {

namespace {

void cancelAll(Scheduler& scheduler, std::deque<EventId>& events) {
  for (const EventId id : events) scheduler.cancel(id);
  events.clear();
}

}  // namespace

struct SimulatedLine::State {
  explicit State(Scheduler& s) : scheduler(s) {}

  Scheduler& scheduler;
  std::mutex mutex;
  LineSettings settings;
  SerialDevice* device = nullptr;
  bool open = false;
  std::shared_ptr<ReceiverSlot> receiver = std::make_shared<ReceiverSlot>();
  // Each direction's wire: when its current burst began and how many
  // characters it holds; a character's arrival counts from the burst's start
  // so that rounding does not add up.
  struct Wire {
    Duration start{0};
    std::uint64_t count = 0;

    // The arrival of one more character sent at `now`.
    Duration next(Duration now, const LineSettings& settings) {
      if (now >= start + settings.timeFor(count)) {
        start = now;
        count = 0;
      }
      return start + settings.timeFor(++count);
    }
    void clear(Duration now) {
      start = now;
      count = 0;
    }
  };
  Wire toDeviceWire;
  Wire toPortWire;
  // Characters on their way, in order: their arrival events.
  std::deque<EventId> toDevice;
  std::deque<EventId> toPort;
};

SimulatedLine::SimulatedLine(Scheduler& scheduler) : state_(std::make_shared<State>(scheduler)) {}

void SimulatedLine::attach(SerialDevice* device) {
  std::lock_guard lock(state_->mutex);
  state_->device = device;
}

void SimulatedLine::send(std::span<const std::uint8_t> bytes) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (!s.open) return;
  const Duration now = s.scheduler.now();
  for (const std::uint8_t byte : bytes) {
    const Duration at = s.toPortWire.next(now, s.settings);
    std::weak_ptr<State> weak = state_;
    s.toPort.push_back(s.scheduler.schedule(
        at - now,
        [weak, byte] {
          const auto state = weak.lock();
          if (!state) return;
          std::shared_ptr<ReceiverSlot> receiver;
          {
            std::lock_guard lock(state->mutex);
            if (!state->toPort.empty()) state->toPort.pop_front();
            receiver = state->receiver;
          }
          // The driver runs in an interrupt, not in this Device event.
          state->scheduler.interrupt([receiver, byte] { receiver->deliver({&byte, 1}); });
        },
        EventKind::Device));
  }
}

LineSettings SimulatedLine::settings() const {
  std::lock_guard lock(state_->mutex);
  return state_->settings;
}

bool SimulatedLine::isOpen() const {
  std::lock_guard lock(state_->mutex);
  return state_->open;
}

bool SimulatedLine::open(Receiver receiver) {
  std::lock_guard lock(state_->mutex);
  state_->open = true;
  state_->receiver->set(std::move(receiver));
  return true;
}

void SimulatedLine::close() {
  std::shared_ptr<ReceiverSlot> receiver;
  {
    std::lock_guard lock(state_->mutex);
    // What is on its way to a closed port is lost.
    cancelAll(state_->scheduler, state_->toPort);
    state_->toPortWire.clear(state_->scheduler.now());
    state_->open = false;
    // Deliveries already scheduled find the old slot empty; a reopened line
    // gets a fresh one.
    receiver = std::exchange(state_->receiver, std::make_shared<ReceiverSlot>());
  }
  receiver->clear();
}

bool SimulatedLine::configure(const LineSettings& settings) {
  std::lock_guard lock(state_->mutex);
  state_->settings = settings;
  return true;
}

void SimulatedLine::transmit(std::span<const std::uint8_t> bytes) {
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  const Duration now = s.scheduler.now();
  for (const std::uint8_t byte : bytes) {
    const Duration at = s.toDeviceWire.next(now, s.settings);
    std::weak_ptr<State> weak = state_;
    s.toDevice.push_back(s.scheduler.schedule(
        at - now,
        [weak, byte] {
          const auto state = weak.lock();
          if (!state) return;
          SerialDevice* device;
          {
            std::lock_guard lock(state->mutex);
            if (!state->toDevice.empty()) state->toDevice.pop_front();
            device = state->device;
          }
          if (device) device->receive(byte);
        },
        EventKind::Device));
  }
}

void SimulatedLine::abortTransmit() {
  std::lock_guard lock(state_->mutex);
  cancelAll(state_->scheduler, state_->toDevice);
  state_->toDeviceWire.clear(state_->scheduler.now());
}

// Every byte that arrived went to the port at once; those still on the wire
// keep coming, as after a purge on real hardware.
void SimulatedLine::discardReceived() {}

}  // namespace k52::nt::serial
