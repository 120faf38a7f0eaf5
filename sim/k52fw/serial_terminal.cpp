#include "sim/k52fw/serial_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace k52::sim {
namespace {

[[noreturn]] void fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

SerialTerminal::SerialTerminal(K52Firmware& firmware, QueueTimeline& timeline)
    : firmware_(firmware), timeline_(timeline) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) fail("posix_openpt");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    close(master_);
    fail("grantpt/unlockpt");
  }
  const char* name = ptsname(master_);
  if (!name) {
    close(master_);
    fail("ptsname");
  }
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY);
  if (slave_ < 0) {
    close(master_);
    fail("open pty slave");
  }
  firmware_.connectLateAnswers([this](std::vector<std::uint8_t> answer) { send(answer); });
}

SerialTerminal::~SerialTerminal() {
  firmware_.connectLateAnswers({});
  close(slave_);
  close(master_);
}

void SerialTerminal::serveOnce(std::chrono::milliseconds wait) {
  pollfd pfd{master_, POLLIN, 0};
  if (poll(&pfd, 1, static_cast<int>(wait.count())) > 0 && (pfd.revents & POLLIN)) {
    std::uint8_t buffer[256];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    const auto now = std::chrono::steady_clock::now();
    if (reader_.midFrame() && now - lastByte_ > kFrameGap) reader_.reset();
    if (n > 0) lastByte_ = now;
    for (ssize_t i = 0; i < n; ++i) receive(buffer[i]);
  }
  catchUp();
}

void SerialTerminal::receive(std::uint8_t byte) {
  const auto frame = reader_.feed(byte);
  if (!frame) return;
  // Whatever the firmware answers late belongs to the timeline's present.
  catchUp();
  if (frame->overlong) {
    send({link::kAnswerError});
    return;
  }
  const auto answer = firmware_.execute(frame->command);
  if (!answer.empty()) send(answer);
}

void SerialTerminal::send(const std::vector<std::uint8_t>& answer) {
  const auto bytes = serialFrame(answer);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the host is gone; its next frame starts afresh
    done += static_cast<std::size_t>(n);
  }
}

void SerialTerminal::catchUp() {
  const Duration now = std::chrono::steady_clock::now() - start_;
  if (now > timeline_.now()) timeline_.runFor(now - timeline_.now());
}

}  // namespace k52::sim
