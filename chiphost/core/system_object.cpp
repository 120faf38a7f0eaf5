// Object System: the client's session and the server.
#include <algorithm>
#include <string>

#include "chiphost/core/channel_crypt.h"
#include "chiphost/core/excpt.h"
#include "chiphost/core/interpreter.h"
#include "chiphost/core/objects.h"
#include "chiphost/core/text_rules.h"
#include "chiphost/core/vocabulary.h"

namespace k52::chiphost {
namespace {

constexpr std::size_t kLanguageMax = 20;

std::string requiredArgument(CommandContext& ctx) {
  auto arg = ctx.argument();
  if (!arg) throw Excpt("1203");
  return *arg;
}

std::int32_t requiredDecimal(CommandContext& ctx) {
  const auto value = ctx.decimalArgument();
  if (!value) throw Excpt("1203");
  return *value;
}

CryptMode cryptModeArgument(CommandContext& ctx) {
  const std::string word = requiredArgument(ctx);
  if (word == "DES") return CryptMode::Des;
  if (word == "CDES") return CryptMode::Cdes;
  throw Excpt("1203");
}

void info(ObjectCall call) {
  const Session& s = call.session;
  const ErrorTexts& texts = call.env.errorTexts();
  PropertyReply reply(call.ctx);
  reply.text("Handle", std::to_string(s.handle));
  reply.text("Lng", s.language);
  reply.text("VersionCode", kVersionCode);
  reply.text("VersionText", kVersionText);
  reply.text("ErrCode", hex4(errorCodeOf(s.errorText)));
  reply.text("ErrText", texts.errText(s.language, s.errorText));
  reply.finish();
}

void comandsMethod(ObjectCall call) {
  comands(call.ctx);
}

void convertErrCode(ObjectCall call) {
  const std::uint32_t code = parseHexValue(requiredArgument(call.ctx)) & 0xFFFF;
  call.ctx.append(
      call.env.errorTexts().format(call.session.language, code, call.session.errorText));
}

void taskList(ObjectCall call) {
  for (const Session* s : call.env.sessions()) {
    call.ctx.append(call.env.title(*s));
    call.ctx.append(",");
    if (const auto reader = call.env.reader(*s))
      call.ctx.append("'" + reader->typeName + "' an COM" + std::to_string(reader->port));
    call.ctx.append("\r\n");
  }
}

void create(ObjectCall call) {
  PropertyReply reply(call.ctx);
  reply.text("Handle", std::to_string(call.session.handle));
  reply.finish();
}

void destroy(ObjectCall call) {
  call.env.destroySession(call.session);
}

void addHWndMsg(ObjectCall call) {
  const auto window = static_cast<std::uint32_t>(requiredDecimal(call.ctx));
  const auto message = static_cast<std::uint32_t>(requiredDecimal(call.ctx));
  auto& regs = call.session.registrations;
  const auto known =
      std::find_if(regs.begin(), regs.end(), [&](const TTaskWnd& r) { return r.window == window; });
  if (known != regs.end()) {
    known->message = message;
  } else {
    regs.push_back({window, message});
  }
}

void delHWnd(ObjectCall call) {
  const auto window = static_cast<std::uint32_t>(requiredDecimal(call.ctx));
  std::erase_if(call.session.registrations, [&](const TTaskWnd& r) { return r.window == window; });
}

void setLng(ObjectCall call) {
  const std::string language = requiredArgument(call.ctx);
  if (call.env.errorTexts().text(language, 0x1008).empty()) throw Excpt("1203");
  call.session.language = language.substr(0, kLanguageMax);
}

void cryptKey(ObjectCall call) {
  const CryptMode mode = cryptModeArgument(call.ctx);
  installKey(call.session, mode, unwrapKey(mode, call.ctx.data()));
}

void genCryptKey(ObjectCall call) {
  const CryptMode mode = cryptModeArgument(call.ctx);
  call.ctx.append(wrapKey(mode, call.ctx.data()));
}

void xeco(ObjectCall call) {
  call.env.setScreenSaverRunning(requiredDecimal(call.ctx));
}

constexpr Method kMethods[] = {
    {"Info", info},
    {"Comands", comandsMethod},
    {"ConvertErrCode", convertErrCode},
    {"TaskList", taskList},
    {"Create", create},
    {"Destroy", destroy},
    {"AddHWndMsg", addHWndMsg},
    {"DelHWnd", delHWnd},
    {"SetLng", setLng},
    {"CryptKey", cryptKey},
    {"GenCryptKey", genCryptKey},
    {"XECO", xeco},
};

}  // namespace

void runSystem(ObjectCall call) {
  dispatch(call, kMethods);
}

}  // namespace k52::chiphost
