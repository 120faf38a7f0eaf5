// The two things a long fault run is made of: the one seed everything
// random in it grows from, and the mix of faults it injects. The reader's
// fault runs on the keyboard and on the serial terminal share them, and so
// can any other rig that runs a simulation for a long time with things going
// wrong at random moments.
//
//   const RunSeed seed(20261210);          // or K52_SEED from the environment
//   SCOPED_TRACE(seed.describe());         // in every thread that can fail
//   VirtualScheduler scheduler(seed.scheduler());
//   std::mt19937_64 random(seed.faults());
//   const FaultMix mix;                    // or with some faults weighed 0
//   while (...) { run(mix.calm(random)); switch (mix.pick(random)) ... }
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>

namespace k52::testing {

// The seed of a run: K52_SEED (a decimal number) when the environment sets
// it, so that a failing run can be replayed, else the run's own default.
class RunSeed {
 public:
  explicit RunSeed(std::uint64_t fallback) : value_(fromEnvironment(fallback)) {}

  std::uint64_t value() const { return value_; }
  // Seeds of their own for the scheduler and for the faults, so that a
  // change in how one of them draws does not shift the other.
  std::uint64_t scheduler() const { return mixed(1); }
  std::uint64_t faults() const { return mixed(2); }

  // For failure messages: how to run this again.
  std::string describe() const { return "K52_SEED=" + std::to_string(value_); }

 private:
  static std::uint64_t fromEnvironment(std::uint64_t fallback) {
    const char* text = std::getenv("K52_SEED");
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || *text == '-') {
      throw std::invalid_argument(std::string("K52_SEED is not a decimal number: ") + text);
    }
    return value;
  }

  // SplitMix64 of the seed and a stream number.
  std::uint64_t mixed(std::uint64_t stream) const {
    std::uint64_t z = value_ + stream * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

  std::uint64_t value_;
};

enum class Fault {
  kCardMoves,  // the card is pulled, or put back
  kLostAcks,   // the keyboard loses acknowledgments
  kTyping,     // someone types on the keyboard
  kNothing,
};

// What a fault run does: after each calm spell one fault, drawn by weight
// (a weight of 0 leaves that fault out), until the run's length has passed.
struct FaultMix {
  std::chrono::milliseconds length = std::chrono::minutes(10);
  std::chrono::milliseconds calmAtLeast{1000};
  std::chrono::milliseconds calmAtMost{6000};
  unsigned cardMoves = 1;
  unsigned lostAcks = 1;
  unsigned typing = 1;
  unsigned nothing = 1;
  unsigned mostAcksLost = 3;  // acknowledgments lost at once, at least 1

  std::chrono::milliseconds calm(std::mt19937_64& random) const {
    return std::chrono::milliseconds(std::uniform_int_distribution<std::int64_t>(
        calmAtLeast.count(), calmAtMost.count())(random));
  }
  Fault pick(std::mt19937_64& random) const {
    const unsigned total = cardMoves + lostAcks + typing + nothing;
    if (total == 0) return Fault::kNothing;
    unsigned draw = std::uniform_int_distribution<unsigned>(0, total - 1)(random);
    if (draw < cardMoves) return Fault::kCardMoves;
    draw -= cardMoves;
    if (draw < lostAcks) return Fault::kLostAcks;
    draw -= lostAcks;
    return draw < typing ? Fault::kTyping : Fault::kNothing;
  }
  unsigned acksLost(std::mt19937_64& random) const {
    return std::uniform_int_distribution<unsigned>(1, mostAcksLost < 1 ? 1 : mostAcksLost)(random);
  }
};

}  // namespace k52::testing
