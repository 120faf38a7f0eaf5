// A request block as the server takes it from a client (WM_COPYDATA or the
// shared memory): header, fields, function code, session handle, command
// line and data block, run through the interpreter and answered; the reply
// block must read back as what was answered.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "chiphost/channel/protocol.h"
#include "chiphost/core/fake_environment.h"
#include "chiphost/core/interpreter.h"

using namespace k52::chiphost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> block(data, std::min<std::size_t>(size, 0xFFFF));
  const BlockHeader header = readHeader(block);
  const Request request = readRequest(block);
  if (request.functionCode != kFunctionCode) return 0;

  static FakeEnvironment env;
  env.messages.clear();
  env.searches.clear();
  env.screenSaver.clear();
  Session session;
  session.handle = request.handle;
  Interpreter interpreter(env);
  CommandResult r = interpreter.serve(
      session, request.command, request.data.first(std::min(request.data.size(), kDataBufferSize)));
  if (r.reply.size() > kDataBufferSize) std::abort();
  const Reply answered{r.result, session.handle, std::move(r.reply)};
  const auto reply = encodeReply(header, answered);
  if (readHeader(reply).length != reply.size() || readReply(reply) != answered) std::abort();
  return 0;
}
