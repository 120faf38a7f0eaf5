#include "chiphost/core/interpreter.h"

#include <algorithm>

#include "chiphost/core/channel_crypt.h"
#include "chiphost/core/excpt.h"
#include "chiphost/core/objects.h"
#include "chiphost/core/text_rules.h"

namespace k52::chiphost {
namespace {

constexpr std::size_t kErrorTextMax = 80;
// The largest plain reply whose encrypted form (length, padded blocks) still
// fits the data block.
constexpr std::size_t kEncryptedReplyMax = kDataBlockSize - 8;

constexpr Method kObjects[] = {
    {"System", runSystem},
    {"Device", runDevice},
    {"Card", runCard},
    {"Apps", runApps},
};

}  // namespace

CommandResult Interpreter::execute(Session& session, std::string_view command,
                                   std::span<const std::uint8_t> data) {
  CommandContext ctx(command, data);
  try {
    if (!ctx.done()) dispatch({ctx, session, env_}, kObjects);
    return {0, ctx.takeReply()};
  } catch (const Excpt& e) {
    const std::string text = e.text();
    session.errorText = text.substr(0, kErrorTextMax);
    const std::int32_t code = resultCodeOf(text);
    if (code == 0x1200) env_.showMessage("Invalid comand", ctx.remaining());
    return {code, ctx.takeReply()};
  }
}

CommandResult Interpreter::serve(Session& session, std::span<const std::uint8_t> command,
                                 std::span<const std::uint8_t> data) {
  if (session.cryptMode == CryptMode::None)
    return execute(session, {reinterpret_cast<const char*>(command.data()), command.size()}, data);
  // The client encrypted with the keys it had when it sent the request; the
  // reply goes back under the same ones even if the command installs new ones.
  const Session keys = session;
  try {
    const std::string plainCommand = decryptCommand(keys, command);
    const std::vector<std::uint8_t> plainData = decryptData(keys, data);
    CommandResult result = execute(session, plainCommand, plainData);
    result.reply.resize(std::min(result.reply.size(), kEncryptedReplyMax));
    result.reply = encryptReply(keys, result.reply);
    return result;
  } catch (const ChannelError&) {
    return {kRequestFailure, {}};
  }
}

void dispatch(ObjectCall call, std::span<const Method> methods) {
  for (const Method& method : methods) {
    if (call.ctx.keyword(method.word)) {
      method.run(call);
      return;
    }
  }
  if (!call.ctx.done()) throw Excpt("1200");
}

void requireReader() {
  throw Excpt("1008");
}

}  // namespace k52::chiphost
