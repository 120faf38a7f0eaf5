// A ReaderHost for programs without the server loop (readerctl, tests): the
// idle event dispatches the thread's pending messages (so the driver
// channel's timer runs), the counters are plain numbers, notifications go to
// a callback, and the cards of further slots live here.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "chiphost/readers/reader_attachment.h"
#include "chiphost/readers/reader_host.h"

namespace k52::chiphost {

class BasicReaderHost : public ReaderHost {
 public:
  using Notify = std::function<void(std::uint16_t code, std::uint16_t value)>;

  explicit BasicReaderHost(Notify notify = {}) : notify_(std::move(notify)) {}

  void idle(bool portWait) override;
  void attachStarted() override { ++attaching_; }
  void attachEnded() override { --attaching_; }
  void transferStarted() override { ++transfers_; }
  void notifyAll(std::uint16_t code, std::uint16_t value) override;
  void showBusy(bool shown) override { busy_ = shown; }
  void clearPollRequest() override { pollRequest_ = false; }
  ReaderAttachment& cardOfSlot(int port, int slot) override;

  int attaching() const { return attaching_; }
  std::uint64_t transfers() const { return transfers_; }
  std::uint64_t idleCalls() const { return idleCalls_; }
  std::uint64_t portWaits() const { return portWaits_; }
  bool busy() const { return busy_; }
  bool pollRequest() const { return pollRequest_; }
  void requestPoll() { pollRequest_ = true; }

 private:
  Notify notify_;
  int attaching_ = 0;
  std::uint64_t transfers_ = 0;
  std::uint64_t idleCalls_ = 0;
  std::uint64_t portWaits_ = 0;
  bool busy_ = false;
  bool pollRequest_ = false;
  std::map<std::pair<int, int>, std::unique_ptr<ReaderAttachment>> slots_;
};

}  // namespace k52::chiphost
