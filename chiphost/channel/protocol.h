// The client protocol of the card server: message numbers, answers, result
// codes, the request and reply blocks, the mailslot notice and the names of
// the objects a shared-memory request uses.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace k52::chiphost {

inline constexpr std::string_view kChannelName = "CHIPHOST";
inline constexpr std::string_view kClientClassSuffix = "CLIENT";

// Window messages of the channel.
inline constexpr std::uint32_t kMsgJobQueued = 0x400;      // WM_USER, to the server's own thread
inline constexpr std::uint32_t kMsgReplyQueued = 0x600;    // to a client's own window
inline constexpr std::uint32_t kMsgVersion = 0x503;        // answered with kVersionAnswer
inline constexpr std::uint32_t kMsgFeatures = 0x504;       // answered with kFeaturesAnswer
inline constexpr std::uint32_t kMsgServerUp = 0x610;       // to the launching client
inline constexpr std::uint32_t kMsgDriverTransfer = 2023;  // a driver-channel transfer completed

inline constexpr std::uint32_t kVersionAnswer = 0x02090001;
inline constexpr std::uint16_t kProtocolVersion = 0x0209;
inline constexpr std::uint32_t kFeaturesAnswer = 32;
inline constexpr std::int32_t kReplyAccepted = 55;

// Results of the channel itself (beside the interpreter's result codes).
inline constexpr std::int32_t kSecondInstance = -111;      // a server window exists
inline constexpr std::int32_t kNoServerWindow = -112;      // the server window was not made
inline constexpr std::int32_t kNoClientWindow = -115;      // own window or mailslot not made
inline constexpr std::int32_t kServerNotStarted = -116;    // the program could not be started
inline constexpr std::int32_t kServerNotUp = -117;         // started, but no window came
inline constexpr std::int32_t kIncompatibleServer = -118;  // the version answer is wrong
inline constexpr std::int32_t kNoReply = -119;             // no reply within the client's wait
inline constexpr std::int32_t kNotDelivered = -120;        // the request did not reach the server
inline constexpr std::int32_t kNoServerMailslot = -121;    // the server mailslot cannot be opened

// Block kinds.
inline constexpr std::uint8_t kKindMessage = 0;
inline constexpr std::uint8_t kKindSharedRequest = 1;
inline constexpr std::uint8_t kKindSharedReply = 3;

inline constexpr std::uint16_t kFunctionCode = 2000;
inline constexpr std::size_t kHeaderSize = 13;
inline constexpr std::size_t kNoticeSize = 13;
inline constexpr std::size_t kSharedMemorySize = 60000;
inline constexpr std::size_t kDataBufferSize = 32768;
inline constexpr std::uint32_t kServerMailslotMaxMessage = 0x8000;

// The 13-byte head of every block, and of the mailslot notice.
struct BlockHeader {
  std::uint8_t kind = kKindMessage;
  std::uint32_t length = 0;  // total length of the block (notice: of the request)
  std::uint32_t id1 = 0;     // shared memory: the client's window
  std::uint32_t id2 = 0;     // shared memory: the client's request number
  bool operator==(const BlockHeader&) const = default;
};

// A block shorter than the header reads as kind 0 without identifiers.
BlockHeader readHeader(std::span<const std::uint8_t> block);
void writeHeader(std::span<std::uint8_t, kHeaderSize> out, const BlockHeader& header);
std::array<std::uint8_t, kHeaderSize> headerBytes(const BlockHeader& header);

// The fields after the header, each a 2-byte length and its bytes; a field
// that would run past the end of the block ends the list.
std::vector<std::span<const std::uint8_t>> readFields(std::span<const std::uint8_t> block);
void appendField(std::vector<std::uint8_t>& block, std::span<const std::uint8_t> field);

// A request as the server reads it. Fields that are missing are empty; a
// function code or handle field too short for its number reads as absent.
struct Request {
  std::optional<std::uint16_t> functionCode;
  std::int32_t handle = 0;
  std::span<const std::uint8_t> command;
  std::span<const std::uint8_t> data;
};
Request readRequest(std::span<const std::uint8_t> block);
std::vector<std::uint8_t> encodeRequest(const BlockHeader& header, std::int32_t handle,
                                        std::span<const std::uint8_t> command,
                                        std::span<const std::uint8_t> data,
                                        std::uint16_t functionCode = kFunctionCode);

// A reply: the result code, the session that served the request and the
// reply data. The header's length is set to the block's size.
struct Reply {
  std::int32_t result = 0;
  std::int32_t handle = 0;
  std::vector<std::uint8_t> data;
  bool operator==(const Reply&) const = default;
};
std::vector<std::uint8_t> encodeReply(BlockHeader header, const Reply& reply);
// nullopt for a block without the three number fields (the bare header of a
// refused request, or a block cut short). The data is cut to the data field.
std::optional<Reply> readReply(std::span<const std::uint8_t> block);

// The mailslot notice: kind 1, the request length, the two identifiers.
std::array<std::uint8_t, kNoticeSize> encodeNotice(std::uint32_t length, std::uint32_t id1,
                                                   std::uint32_t id2);

// Names: identifiers as eight upper-case hexadecimal digits each.
std::string sharedMemoryName(std::uint32_t id1, std::uint32_t id2);  // "CHIPHOSTM..."
std::string replyEventName(std::uint32_t id1, std::uint32_t id2);    // "SCARDEV..."
std::string serverMailslotName(std::string_view channel);
std::string clientMailslotName(std::string_view channel, std::uint32_t window);

}  // namespace k52::chiphost
