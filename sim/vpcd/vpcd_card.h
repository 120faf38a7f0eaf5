// A simulated card in a vpcd reader: connecting to the driver's TCP port
// inserts the card, closing the connection removes it. The reader's commands
// are served on a background thread while the card is inserted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "sim/card/card.h"
#include "sim/vpcd/frame.h"

namespace k52::sim {

class VpcdCard {
 public:
  // The driver listens on 127.0.0.1:port (one port per reader slot).
  VpcdCard(Card card, std::uint16_t port);
  ~VpcdCard();

  VpcdCard(const VpcdCard&) = delete;
  VpcdCard& operator=(const VpcdCard&) = delete;

  // insert() and remove() are for one controlling thread.

  // Connects, retrying while nobody listens yet, for at most `timeout`.
  // True once the card is in the reader (also if it already was).
  bool insert(std::chrono::milliseconds timeout);

  // Pulls the card out: closes the connection and waits for the serving
  // thread. The card loses power. Does nothing if it is not inserted.
  void remove();

  // False once removed or after the reader side hung up.
  bool inserted() const;

  // Waits until the reader has powered the card up since the last insert(),
  // which is when it starts reporting the card as present.
  bool waitUntilPowered(std::chrono::milliseconds timeout);

  // Runs `fn` on the card, never concurrently with the reader's commands.
  void withCard(const std::function<void(Card&)>& fn);

 private:
  void serve();
  bool handle(FrameDecoder& decoder, std::span<const std::uint8_t> bytes);

  const std::uint16_t port_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Card card_;
  bool connected_ = false;
  bool poweredSinceInsert_ = false;
  int socket_ = -1;  // owned by insert()/remove(); the thread only uses it
  std::thread thread_;
};

}  // namespace k52::sim
