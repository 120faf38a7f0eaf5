// The system's reader of keystrokes: a thread that keeps one read pending at
// the top of the keyboard class device's stack, so that a filter attached
// above the class device sees every read issued after it arrived. It keeps
// the codes it received (make code, plus 0x80 for a release) in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/nt/ntddk.h"

namespace k52::nt {

struct KeystrokeReaderConfig {
  // Records one read asks for.
  std::size_t recordsPerRead = 16;
  // Time spent on a batch before the next read goes out; keystrokes that
  // arrive meanwhile are batched into that read.
  Duration processingTime = std::chrono::milliseconds(2);
};

class KeystrokeReader {
 public:
  explicit KeystrokeReader(KeystrokeReaderConfig config = {});
  // stop() must have run (the thread blocks on the kernel's objects).
  ~KeystrokeReader();
  KeystrokeReader(const KeystrokeReader&) = delete;
  KeystrokeReader& operator=(const KeystrokeReader&) = delete;

  // Starts the thread; the class device must exist.
  void start();
  // Ends the thread: completes its waiting read and waits for the thread.
  // Call from a thread of the kernel's scheduler, or from the test thread.
  void stop();

  std::vector<std::uint8_t> codes() const;
  std::size_t reads() const;
  // Records of the largest batch one read returned.
  std::size_t largestBatch() const;
  // Reads that came back with an error status or zero records.
  std::size_t emptyReads() const;

 private:
  enum class Batch { kRecords, kRestarted, kFailed };

  static void threadMain(PVOID self);
  void run();
  Batch readOnce(PFILE_OBJECT file);

  KeystrokeReaderConfig config_;
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> codes_;
  std::size_t reads_ = 0;
  std::size_t largestBatch_ = 0;
  std::size_t emptyReads_ = 0;
  bool stopping_ = false;
  HANDLE thread_ = nullptr;
};

}  // namespace k52::nt
