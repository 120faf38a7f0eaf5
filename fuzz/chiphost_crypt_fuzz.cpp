// Arbitrary ciphertext into an encrypted session: the request is decrypted,
// run and answered, or refused with 0x2000; never more.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "chiphost/core/channel_crypt.h"
#include "chiphost/core/command_context.h"
#include "chiphost/core/fake_environment.h"
#include "chiphost/core/interpreter.h"

using namespace k52::chiphost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Byte 0: mode and split; bytes 1..16: key; then the command ciphertext
  // and the data block ciphertext.
  if (size < 17) return 0;
  Session session;
  const CryptMode mode = data[0] & 1 ? CryptMode::Cdes : CryptMode::Des;
  installKey(session, mode, std::span(data + 1, keyLength(mode)));
  const std::span<const std::uint8_t> rest(data + 17, size - 17);
  const std::size_t commandLength = std::min<std::size_t>((data[0] >> 1) * 8u, rest.size());

  static FakeEnvironment env;
  env.messages.clear();
  env.searches.clear();
  Interpreter interpreter(env);
  const CommandResult r =
      interpreter.serve(session, rest.first(commandLength), rest.subspan(commandLength));
  if (r.reply.size() > kDataBlockSize) std::abort();
  if (r.result == kRequestFailure) {
    if (!r.reply.empty()) std::abort();
    return 0;
  }
  // Every reply decrypts to a plain reply with the keys the request used.
  Session client;
  installKey(client, mode, std::span(data + 1, keyLength(mode)));
  try {
    decryptReply(client, r.reply);
  } catch (const ChannelError&) {
    std::abort();
  }
  return 0;
}
