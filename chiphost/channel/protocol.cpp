// Byte layouts of the client protocol; every integer is little-endian.
#include "chiphost/channel/protocol.h"

#include <cstdio>

namespace k52::chiphost {
namespace {

std::uint32_t le32(std::span<const std::uint8_t> b) {
  return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void putLe32(std::uint8_t* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

template <typename T>
void appendNumber(std::vector<std::uint8_t>& block, T value) {
  std::array<std::uint8_t, sizeof(T)> bytes{};
  for (std::size_t i = 0; i < sizeof(T); ++i)
    bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
  appendField(block, bytes);
}

std::optional<std::uint32_t> number(std::span<const std::uint8_t> field, std::size_t size) {
  if (field.size() < size) return std::nullopt;
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < size; ++i) v |= static_cast<std::uint32_t>(field[i]) << (8 * i);
  return v;
}

std::string objectName(std::string_view stem, std::uint32_t id1, std::uint32_t id2) {
  char digits[17];
  std::snprintf(digits, sizeof digits, "%08X%08X", id1, id2);
  return std::string(stem) + digits;
}

constexpr std::string_view kMailslotRoot = "\\\\.\\mailslot\\palvik\\";

}  // namespace

BlockHeader readHeader(std::span<const std::uint8_t> block) {
  if (block.size() < kHeaderSize) return {};
  return {block[0], le32(block.subspan(1)), le32(block.subspan(5)), le32(block.subspan(9))};
}

void writeHeader(std::span<std::uint8_t, kHeaderSize> out, const BlockHeader& header) {
  out[0] = header.kind;
  putLe32(&out[1], header.length);
  putLe32(&out[5], header.id1);
  putLe32(&out[9], header.id2);
}

std::array<std::uint8_t, kHeaderSize> headerBytes(const BlockHeader& header) {
  std::array<std::uint8_t, kHeaderSize> out{};
  writeHeader(out, header);
  return out;
}

std::vector<std::span<const std::uint8_t>> readFields(std::span<const std::uint8_t> block) {
  std::vector<std::span<const std::uint8_t>> fields;
  std::size_t at = kHeaderSize;
  while (at + 2 <= block.size()) {
    const std::size_t length = block[at] | static_cast<std::size_t>(block[at + 1]) << 8;
    at += 2;
    if (length > block.size() - at) break;
    fields.push_back(block.subspan(at, length));
    at += length;
  }
  return fields;
}

void appendField(std::vector<std::uint8_t>& block, std::span<const std::uint8_t> field) {
  const auto length = static_cast<std::uint16_t>(field.size());
  block.push_back(static_cast<std::uint8_t>(length));
  block.push_back(static_cast<std::uint8_t>(length >> 8));
  block.insert(block.end(), field.begin(), field.begin() + length);
}

Request readRequest(std::span<const std::uint8_t> block) {
  const auto fields = readFields(block);
  Request r;
  if (!fields.empty()) {
    if (auto code = number(fields[0], 2)) r.functionCode = static_cast<std::uint16_t>(*code);
  }
  if (fields.size() > 1) r.handle = static_cast<std::int32_t>(number(fields[1], 4).value_or(0));
  if (fields.size() > 2) r.command = fields[2];
  if (fields.size() > 3) r.data = fields[3];
  return r;
}

std::vector<std::uint8_t> encodeRequest(const BlockHeader& header, std::int32_t handle,
                                        std::span<const std::uint8_t> command,
                                        std::span<const std::uint8_t> data,
                                        std::uint16_t functionCode) {
  const auto head = headerBytes(header);
  std::vector<std::uint8_t> block(head.begin(), head.end());
  appendNumber(block, functionCode);
  appendNumber(block, handle);
  appendField(block, command);
  appendField(block, data);
  return block;
}

std::vector<std::uint8_t> encodeReply(BlockHeader header, const Reply& reply) {
  std::vector<std::uint8_t> block(kHeaderSize);
  appendNumber(block, reply.result);
  appendNumber(block, reply.handle);
  appendNumber(block, static_cast<std::uint32_t>(reply.data.size()));
  appendField(block, reply.data);
  header.length = static_cast<std::uint32_t>(block.size());
  writeHeader(std::span<std::uint8_t, kHeaderSize>(block.data(), kHeaderSize), header);
  return block;
}

std::optional<Reply> readReply(std::span<const std::uint8_t> block) {
  const auto fields = readFields(block);
  if (fields.size() < 3) return std::nullopt;
  const auto result = number(fields[0], 4);
  const auto handle = number(fields[1], 4);
  if (!result || !handle) return std::nullopt;
  Reply r{static_cast<std::int32_t>(*result), static_cast<std::int32_t>(*handle), {}};
  if (fields.size() > 3) r.data.assign(fields[3].begin(), fields[3].end());
  return r;
}

std::array<std::uint8_t, kNoticeSize> encodeNotice(std::uint32_t length, std::uint32_t id1,
                                                   std::uint32_t id2) {
  return headerBytes({kKindSharedRequest, length, id1, id2});
}

std::string sharedMemoryName(std::uint32_t id1, std::uint32_t id2) {
  return objectName("CHIPHOSTM", id1, id2);
}

std::string replyEventName(std::uint32_t id1, std::uint32_t id2) {
  return objectName("SCARDEV", id1, id2);
}

std::string serverMailslotName(std::string_view channel) {
  return std::string(kMailslotRoot) + std::string(channel) + "\\Master";
}

std::string clientMailslotName(std::string_view channel, std::uint32_t window) {
  return std::string(kMailslotRoot) + std::string(channel) + "\\" + std::to_string(window);
}

}  // namespace k52::chiphost
