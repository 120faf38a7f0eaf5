#include "sim/vpcd/vpcd_card.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sim/card/purse.h"
#include "sim/vpcd/frame.h"
#include "sim/vpcd/session.h"

namespace k52::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr int kIoTimeoutMs = 2000;

// The driver's end of the connection, played by the test. Like the driver it
// writes length and payload separately, with Nagle left on.
class FakeReader {
 public:
  FakeReader() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), len) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &len) != 0) {
      throw std::runtime_error("cannot listen");
    }
    port_ = ntohs(address.sin_port);
  }
  ~FakeReader() {
    hangUp();
    ::close(listener_);
  }

  std::uint16_t port() const { return port_; }

  bool accept() {
    if (!readable(listener_)) return false;
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return connection_ >= 0;
  }

  void send(const Bytes& payload) {
    const Bytes frame = encodeVpcdFrame(payload);
    ASSERT_EQ(::write(connection_, frame.data(), 2), 2);
    if (!payload.empty()) {
      ASSERT_EQ(::write(connection_, frame.data() + 2, payload.size()),
                static_cast<ssize_t>(payload.size()));
    }
  }

  // The next reply; nullopt on end of stream or time-out.
  std::optional<Bytes> receive() {
    while (auto payload = decoder_.next()) return payload;
    std::uint8_t buffer[512];
    while (readable(connection_)) {
      const ssize_t n = ::read(connection_, buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;
      decoder_.feed(std::span(buffer, static_cast<std::size_t>(n)));
      if (auto payload = decoder_.next()) return payload;
    }
    return std::nullopt;
  }

  Bytes exchange(const Bytes& payload) {
    send(payload);
    return receive().value_or(Bytes{});
  }

  void hangUp() {
    if (connection_ >= 0) ::close(connection_);
    connection_ = -1;
  }

 private:
  static bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, kIoTimeoutMs) == 1;
  }

  int listener_ = -1;
  int connection_ = -1;
  std::uint16_t port_ = 0;
  FrameDecoder decoder_;
};

const Bytes kSelectPurse{0x00, 0xA4, 0x04, 0x0C, 0x09, 0xD2, 0x76,
                         0x00, 0x00, 0x25, 0x45, 0x50, 0x01, 0x00};
const Bytes kReadAmounts{0x00, 0xB2, 0x01, 0xC4, 0x00};

TEST(VpcdCard, ServesTheReaderUntilRemoved) {
  FakeReader reader;
  VpcdCard card(makePurseCard(PurseConfig{1234}, AtrProtocols::kT1), reader.port());
  ASSERT_TRUE(card.insert(2s));
  ASSERT_TRUE(reader.accept());

  EXPECT_EQ(reader.exchange({kVpcdGetAtr}), readyAtr(AtrProtocols::kT1));
  EXPECT_FALSE(card.waitUntilPowered(0ms));
  reader.send({kVpcdPowerOn});
  EXPECT_TRUE(card.waitUntilPowered(2s));
  EXPECT_EQ(reader.exchange(kSelectPurse), (Bytes{0x90, 0x00}));
  EXPECT_EQ(reader.exchange(kReadAmounts),
            (Bytes{0x00, 0x12, 0x34, 0x02, 0x00, 0x00, 0x02, 0x00, 0x00, 0x90, 0x00}));

  card.remove();
  EXPECT_FALSE(card.inserted());
  EXPECT_FALSE(reader.receive()) << "the reader sees the connection close";
  card.withCard([](Card& c) { EXPECT_FALSE(c.powered()) << "removal cuts the power"; });
}

TEST(VpcdCard, NoticesTheReaderHangingUpAndCanBeInsertedAgain) {
  FakeReader reader;
  VpcdCard card(makePurseCard(PurseConfig{}), reader.port());
  ASSERT_TRUE(card.insert(2s));
  ASSERT_TRUE(reader.accept());
  reader.send({kVpcdPowerOn});
  ASSERT_TRUE(card.waitUntilPowered(2s));

  reader.hangUp();
  for (int i = 0; i < 200 && card.inserted(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(card.inserted());

  ASSERT_TRUE(card.insert(2s));
  ASSERT_TRUE(reader.accept());
  EXPECT_FALSE(card.waitUntilPowered(0ms)) << "a new insertion starts unpowered";
  EXPECT_EQ(reader.exchange(kSelectPurse), Bytes{}) << "mute until powered";
}

TEST(VpcdCard, InsertGivesUpWhenNobodyListens) {
  std::uint16_t closedPort;
  {
    FakeReader gone;
    closedPort = gone.port();
  }
  VpcdCard card(makePurseCard(PurseConfig{}), closedPort);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(card.insert(200ms));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 150ms);
  EXPECT_LT(took, 1s);
}

TEST(VpcdCard, AnswersWithoutWaitingForDelayedAcks) {
  // With delayed ACKs each exchange would stall ~40 ms on the reader's split
  // write; 50 exchanges must stay far below that.
  FakeReader reader;
  VpcdCard card(makePurseCard(PurseConfig{}), reader.port());
  ASSERT_TRUE(card.insert(2s));
  ASSERT_TRUE(reader.accept());
  reader.send({kVpcdPowerOn});
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) ASSERT_EQ(reader.exchange(kSelectPurse), (Bytes{0x90, 0x00}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

}  // namespace
}  // namespace k52::sim
