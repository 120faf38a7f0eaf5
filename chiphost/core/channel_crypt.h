// The encrypted command channel: session keys wrapped under the server's four
// fixed keys, and the encryption of requests and replies once a session has
// switched to DES (mode 1) or CDES (mode 2).
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "chiphost/core/session.h"

namespace k52::chiphost {

// A request that cannot be decrypted; the server answers it with 0x2000.
class ChannelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Key length of a mode: 8 for DES, 16 for CDES.
std::size_t keyLength(CryptMode mode);

// DES (FIPS 46) in ECB mode over the whole blocks of `buffer`.
void desEncrypt(std::span<std::uint8_t> buffer, const DesKey& key);
void desDecrypt(std::span<std::uint8_t> buffer, const DesKey& key);

// GenCryptKey: a plain key wrapped for CryptKey. Raises "1203" for a wrong
// length.
std::vector<std::uint8_t> wrapKey(CryptMode mode, std::span<const std::uint8_t> plain);
// CryptKey: the plain key back from its wrapped form. Raises "1203".
std::vector<std::uint8_t> unwrapKey(CryptMode mode, std::span<const std::uint8_t> wrapped);

// Installs an unwrapped key and switches the session to `mode` for good.
void installKey(Session& session, CryptMode mode, std::span<const std::uint8_t> key);

// ECB with the session's cipher over whole blocks, in place. DES and Cdes8
// both have 8-byte blocks.
void encryptBlocks(const Session& session, std::span<std::uint8_t> buffer);
void decryptBlocks(const Session& session, std::span<std::uint8_t> buffer);

// The command of an encrypted request: decrypted, up to its first zero byte.
std::string decryptCommand(const Session& session, std::span<const std::uint8_t> cipher);
// The data block of an encrypted request: decrypted, then the plain data
// behind its two-byte little-endian length. An empty block stays empty.
std::vector<std::uint8_t> decryptData(const Session& session, std::span<const std::uint8_t> cipher);
// A reply for an encrypted session: two-byte little-endian plain length, then
// the reply padded with 0x80 and zeros to whole blocks and encrypted. An
// empty reply stays empty.
std::vector<std::uint8_t> encryptReply(const Session& session, std::span<const std::uint8_t> plain);

// Requests and replies of an encrypted session in the form a client sends and
// reads them (what the server does, mirrored).
std::vector<std::uint8_t> encryptCommand(const Session& session, std::string_view command);
std::vector<std::uint8_t> encryptData(const Session& session, std::span<const std::uint8_t> plain);
std::vector<std::uint8_t> decryptReply(const Session& session,
                                       std::span<const std::uint8_t> cipher);

}  // namespace k52::chiphost
