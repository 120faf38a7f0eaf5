// The command interpreter: runs one client request against the objects
// System, Device, Card and Apps and answers with a result code and a reply.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "chiphost/core/environment.h"
#include "chiphost/core/session.h"

namespace k52::chiphost {

inline constexpr std::string_view kVersionCode = "0209";
inline constexpr std::string_view kVersionText = "Chipwarden V2.09";

// Result of a request that failed outside the command's own error handling:
// one that cannot be decrypted, or a failure of the server itself.
inline constexpr std::int32_t kRequestFailure = 0x2000;

struct CommandResult {
  // 0, or the hexadecimal value of the error text's first four characters.
  std::int32_t result = 0;
  // Text lines or raw bytes; on failure what had been written so far. In an
  // encrypted session: the two-byte plain length and the ciphertext.
  std::vector<std::uint8_t> reply;
};

class Interpreter {
 public:
  explicit Interpreter(ServerEnvironment& env) : env_(env) {}

  // One request as it came from the client: decrypted first when the session
  // has switched to encryption, the reply encrypted likewise.
  CommandResult serve(Session& session, std::span<const std::uint8_t> command,
                      std::span<const std::uint8_t> data);

  // One plain command. Errors end here: the session keeps the error text.
  CommandResult execute(Session& session, std::string_view command,
                        std::span<const std::uint8_t> data);

 private:
  ServerEnvironment& env_;
};

}  // namespace k52::chiphost
