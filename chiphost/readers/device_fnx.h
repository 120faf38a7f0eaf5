// `TDeviceFNX`: the readers with their own controller (types 1..13). The
// host sends short command frames protected by the rolling checksum seeded
// with the slot number (which so addresses the slot of a twin reader); the
// reader executes each command, keeps a command counter, and for processor
// cards switches into a transparent mode in which card characters pass.
//
// Lost answers and lost commands are told apart by the reader's counter:
// a command the reader executed is never sent twice, its answer is fetched
// with "repeat last answer". Three consecutive bad frames make an error
// burst, which returns the reader to 9600 with a reset pulse (from the second
// burst on also one step lower in speed); the third burst declares the reader
// failed: every command raises "1008" at once until the next attach.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "chiphost/readers/com_port.h"
#include "chiphost/readers/reader_host.h"
#include "chiphost/readers/reader_records.h"

namespace k52::chiphost {

inline constexpr std::uint32_t kRetryWindowMs = 3000;
inline constexpr std::uint32_t kFrameTimeoutMs = 180;
inline constexpr std::uint32_t kSpeedSettleMs = 600;
inline constexpr int kSpeedTests = 11;
inline constexpr int kSearchAttempts = 20;
inline constexpr int kPulseAtAttempt = 5;
inline constexpr int kTwinIdentifyTries = 3;

class TDeviceFNX {
 public:
  TDeviceFNX(TComPort& port, ProtocolParams& params, ReaderHost& host);
  // An attached reader: LED off, back to 9600 with a reset pulse, a card
  // still inserted powered off; errors there are ignored.
  virtual ~TDeviceFNX();
  TDeviceFNX(const TDeviceFNX&) = delete;
  TDeviceFNX& operator=(const TDeviceFNX&) = delete;

  // Modes 0 and 2: search (2 reports progress with 301); 3: the same reader
  // still (identity); 4: quick presence check. Raises "1008" on failure;
  // the port's "1001" passes through.
  void Attach(int portWord, int slot, int mode);
  void SetLed(int code);
  bool SetSpeed(std::int32_t speed);
  void SetCharParity(int parity);
  bool CardPresent();
  bool CardChanged();
  void PowerOn();
  void PowerOff();
  bool ResetCard(bool variant, std::uint8_t& first, std::uint32_t timeoutMs);
  bool ReceiveByte(std::uint8_t& byte, std::uint32_t timeoutMs);
  // n = bytes.size() card bytes out, m expected back: the first within f ms,
  // each further one within g ms; with `end` the reader returns to command
  // mode afterwards.
  virtual bool Transmit(std::size_t m, bool end, std::uint32_t g, std::uint32_t f,
                        std::vector<std::uint8_t>& answer, std::span<const std::uint8_t> bytes);
  void EndTransfer();
  DeviceIdentity GetIdentity() const { return identity_; }
  // The next CardPresent reads the status (after a driver-channel transfer).
  void forceStatus() { forceStatus_ = true; }

  int type() const { return type_; }
  int slot() const { return slot_; }
  bool attached() const { return attached_; }
  bool failed() const { return failed_; }
  std::int32_t currentSpeed() const { return currentSpeed_; }
  std::int32_t verifiedMaximum() const { return verifiedMax_; }
  std::uint32_t goodFrames() const { return goodFrames_; }
  std::uint32_t badFrames() const { return badFrames_; }
  std::uint8_t hostCounter() const { return hostCounter_; }

 private:
  bool ExchangeFrame(std::span<const std::uint8_t> command, unsigned answerCount,
                     std::uint32_t timeoutMs, bool expectAnswer,
                     std::vector<std::uint8_t>* answer = nullptr);
  bool Command(std::span<const std::uint8_t> command, unsigned answerCount, std::uint32_t timeoutMs,
               std::vector<std::uint8_t>* answer = nullptr);
  std::vector<std::uint8_t> SequencedCommand(std::span<const std::uint8_t> command,
                                             std::uint32_t timeoutMs = kFrameTimeoutMs);
  void SyncSequence();
  void BackTo9600(bool pulse);

  void search(int mode);
  bool identifyWith(int setting, int attempts, int mode);
  void twinDecision(std::uint8_t id);
  void recheck(int mode);
  void applyLineSettings(int type);
  void frameFailed();
  std::uint32_t elapsedSince(std::uint32_t start) const;
  std::optional<std::uint8_t> readCounterWithin(std::uint32_t start, std::uint32_t windowMs,
                                                std::uint32_t timeoutMs);
  std::uint8_t convert(std::uint8_t byte) const;
  [[noreturn]] void raiseFailed();

  TComPort& port_;
  ProtocolParams& params_;
  ReaderHost& host_;
  int idleTicks_ = 0;
  int slot_ = 0;
  int portWord_ = 0;
  std::int32_t currentSpeed_ = 9600;
  std::int32_t verifiedMax_ = 9600;
  std::uint8_t hostCounter_ = 0;
  bool sequenceKnown_ = false;
  bool transparentUsed_ = false;
  bool failed_ = false;
  int consecutiveErrors_ = 0;
  int errorBursts_ = 0;
  std::uint32_t goodFrames_ = 0;
  std::uint32_t badFrames_ = 0;
  bool attached_ = false;
  int type_ = 0;
  DeviceIdentity identity_;
  bool cachedPresence_ = false;
  bool changedLatch_ = false;
  int ledCode_ = 0;
  bool forceStatus_ = false;
  std::uint8_t seenGeneration_ = 0;
};

}  // namespace k52::chiphost
