// Arbitrary command text (and a data block) into the interpreter. Whatever
// comes in, the reply fits the client's data block and the session keeps a
// bounded error text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "chiphost/core/command_context.h"
#include "chiphost/core/fake_environment.h"
#include "chiphost/core/interpreter.h"

using namespace k52::chiphost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte tells how much of the input after it is the data block.
  if (size == 0) return 0;
  const std::size_t dataLength = std::min<std::size_t>(data[0], size - 1);
  const std::span<const std::uint8_t> block(data + 1, dataLength);
  const std::string_view line(reinterpret_cast<const char*>(data + 1 + dataLength),
                              size - 1 - dataLength);

  static FakeEnvironment env;
  env.messages.clear();
  env.searches.clear();
  Session session;
  session.handle = 1;
  Interpreter interpreter(env);
  const CommandResult first = interpreter.execute(session, line, block);
  // Run it again with the error of the first run in place, to reach the
  // placeholder filling of ErrText and ConvertErrCode.
  const CommandResult second = interpreter.execute(session, line, block);
  for (const CommandResult& r : {first, second}) {
    if (r.reply.size() > kDataBlockSize) std::abort();
  }
  if (session.errorText.size() > 80 || session.language.size() > 20) std::abort();
  return 0;
}
