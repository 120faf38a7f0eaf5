// One request and its reply, as the channel endpoint queues it.
#pragma once

#include <cstdint>
#include <vector>

#include "chiphost/channel/protocol.h"
#include "platform/win32/messaging/types.h"

namespace k52::chiphost {

struct TSrvJob {
  TSrvJob() = default;
  TSrvJob(const TSrvJob&) = delete;
  TSrvJob& operator=(const TSrvJob&) = delete;
  // Unmaps and closes the shared memory of a shared-memory request.
  ~TSrvJob();

  // kKindSharedRequest, else window-message traffic; kKindSharedReply once
  // served.
  std::uint8_t kind = kKindMessage;
  // The sender's window, or identifier 1 of a shared-memory request.
  std::uint32_t clientWindow = 0;
  // Given by the server to a window-message request; identifier 2 of a
  // shared-memory request.
  std::uint32_t jobNumber = 0;
  std::vector<std::uint8_t> request;  // at most 65535 bytes
  // What the handler answers: a 13-byte header room followed by the fields;
  // the endpoint writes the header when it sends the reply.
  std::vector<std::uint8_t> reply;
  // Shared-memory requests keep their mapping until the reply is written.
  win32::HANDLE mapping = nullptr;
  void* view = nullptr;
};

}  // namespace k52::chiphost
