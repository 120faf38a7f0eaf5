#include "chiphost/core/channel_crypt.h"

#include <nettle/des.h>

#include <algorithm>

#include "chiphost/core/command_context.h"
#include "chiphost/core/excpt.h"

namespace k52::chiphost {
namespace {

// The server's fixed wrapping keys. Clients that wrap keys themselves must
// use the same values, so they never change.
constexpr DesKey kServerKey1 = {0x5B, 0x13, 0xC4, 0x7A, 0x2E, 0x91, 0x68, 0xDF};
constexpr Cdes8Key kServerKey2 = {0x31, 0xE7, 0x0C, 0x9A, 0x54, 0xB8, 0x26, 0xF3,
                                  0x8D, 0x42, 0x7F, 0x15, 0xA9, 0x60, 0xCB, 0x3E};
constexpr DesKey kServerKey3 = {0xE2, 0x4F, 0x86, 0x1D, 0xB7, 0x39, 0x5C, 0xA0};
constexpr std::uint32_t kServerKey4 = 0x6A27D94Bu;

constexpr std::size_t kBlock = 8;

des_ctx desContext(const DesKey& key) {
  des_ctx ctx;
  // Parity bits are ignored; a weak key still gives a working schedule.
  des_set_key(&ctx, key.data());
  return ctx;
}

std::span<std::uint8_t> wholeBlocks(std::span<std::uint8_t> buffer) {
  return buffer.first(buffer.size() / kBlock * kBlock);
}

void requireKeyLength(CryptMode mode, std::size_t size) {
  if (size != keyLength(mode)) throw Excpt("1203");
}

std::uint16_t readLength(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

void putLength(std::vector<std::uint8_t>& out, std::size_t length) {
  out.push_back(static_cast<std::uint8_t>(length));
  out.push_back(static_cast<std::uint8_t>(length >> 8));
}

}  // namespace

std::size_t keyLength(CryptMode mode) {
  return mode == CryptMode::Cdes ? 16 : 8;
}

void desEncrypt(std::span<std::uint8_t> buffer, const DesKey& key) {
  const des_ctx ctx = desContext(key);
  const auto blocks = wholeBlocks(buffer);
  des_encrypt(&ctx, blocks.size(), blocks.data(), blocks.data());
}

void desDecrypt(std::span<std::uint8_t> buffer, const DesKey& key) {
  const des_ctx ctx = desContext(key);
  const auto blocks = wholeBlocks(buffer);
  des_decrypt(&ctx, blocks.size(), blocks.data(), blocks.data());
}

std::vector<std::uint8_t> wrapKey(CryptMode mode, std::span<const std::uint8_t> plain) {
  requireKeyLength(mode, plain.size());
  std::vector<std::uint8_t> key(plain.begin(), plain.end());
  Cdes4(key, kServerKey4);
  desEncrypt(key, kServerKey3);
  Cdes8Padded(key, kServerKey2);
  desDecrypt(key, kServerKey1);
  return key;
}

std::vector<std::uint8_t> unwrapKey(CryptMode mode, std::span<const std::uint8_t> wrapped) {
  requireKeyLength(mode, wrapped.size());
  std::vector<std::uint8_t> key(wrapped.begin(), wrapped.end());
  desEncrypt(key, kServerKey1);
  Cdes8(key, kServerKey2);
  desDecrypt(key, kServerKey3);
  Cdes4(key, kServerKey4);
  return key;
}

void installKey(Session& session, CryptMode mode, std::span<const std::uint8_t> key) {
  requireKeyLength(mode, key.size());
  if (mode == CryptMode::Cdes) {
    std::copy(key.begin(), key.end(), session.cdesKey.begin());
  } else {
    std::copy(key.begin(), key.end(), session.desKey.begin());
  }
  session.cryptMode = mode;
}

void encryptBlocks(const Session& session, std::span<std::uint8_t> buffer) {
  if (session.cryptMode == CryptMode::Cdes) {
    Cdes8(buffer, session.cdesKey);
  } else {
    desEncrypt(buffer, session.desKey);
  }
}

void decryptBlocks(const Session& session, std::span<std::uint8_t> buffer) {
  if (session.cryptMode == CryptMode::Cdes) {
    Cdes8(buffer, session.cdesKey);
  } else {
    desDecrypt(buffer, session.desKey);
  }
}

std::string decryptCommand(const Session& session, std::span<const std::uint8_t> cipher) {
  if (cipher.size() % kBlock != 0) throw ChannelError("command is not whole blocks");
  std::vector<std::uint8_t> plain(cipher.begin(), cipher.end());
  decryptBlocks(session, plain);
  const auto end = std::find(plain.begin(), plain.end(), 0);
  return std::string(plain.begin(), end);
}

std::vector<std::uint8_t> decryptData(const Session& session,
                                      std::span<const std::uint8_t> cipher) {
  if (cipher.empty()) return {};
  if (cipher.size() % kBlock != 0 || cipher.size() > kDataBlockSize)
    throw ChannelError("data block is not whole blocks");
  std::vector<std::uint8_t> plain(cipher.begin(), cipher.end());
  decryptBlocks(session, plain);
  const std::size_t length = readLength(plain);
  if (length > plain.size() - 2) throw ChannelError("data length beyond the block");
  return std::vector<std::uint8_t>(plain.begin() + 2, plain.begin() + 2 + length);
}

std::vector<std::uint8_t> encryptReply(const Session& session,
                                       std::span<const std::uint8_t> plain) {
  if (plain.empty()) return {};
  std::vector<std::uint8_t> body(plain.begin(), plain.end());
  padBlocks(body, kBlock);
  encryptBlocks(session, body);
  std::vector<std::uint8_t> reply;
  putLength(reply, plain.size());
  reply.insert(reply.end(), body.begin(), body.end());
  return reply;
}

std::vector<std::uint8_t> encryptCommand(const Session& session, std::string_view command) {
  std::vector<std::uint8_t> bytes(command.begin(), command.end());
  bytes.resize((bytes.size() + kBlock - 1) / kBlock * kBlock, 0x00);
  encryptBlocks(session, bytes);
  return bytes;
}

std::vector<std::uint8_t> encryptData(const Session& session, std::span<const std::uint8_t> plain) {
  std::vector<std::uint8_t> bytes;
  putLength(bytes, plain.size());
  bytes.insert(bytes.end(), plain.begin(), plain.end());
  bytes.resize((bytes.size() + kBlock - 1) / kBlock * kBlock, 0x00);
  encryptBlocks(session, bytes);
  return bytes;
}

std::vector<std::uint8_t> decryptReply(const Session& session,
                                       std::span<const std::uint8_t> cipher) {
  if (cipher.empty()) return {};
  if (cipher.size() < 2 || (cipher.size() - 2) % kBlock != 0)
    throw ChannelError("reply is not whole blocks");
  std::vector<std::uint8_t> body(cipher.begin() + 2, cipher.end());
  const std::size_t length = readLength(cipher);
  if (length > body.size()) throw ChannelError("reply length beyond the block");
  decryptBlocks(session, body);
  body.resize(length);
  return body;
}

}  // namespace k52::chiphost
