// Object Device: the readers known to the server. The reader list is empty
// until the reader layer fills it, so every reader-bound branch ends in the
// error an empty list gives.
#include "chiphost/core/excpt.h"
#include "chiphost/core/objects.h"

namespace k52::chiphost {
namespace {

constexpr int kLastComPort = 15;

// Reply of Info and InfoDeviceID for a session without a reader.
void noReaderInfo(ObjectCall call) {
  PropertyReply reply(call.ctx);
  reply.text("Status", "error");
  reply.finish();
}

void infoDeviceId(ObjectCall call) {
  // Every index lies outside the empty reader list.
  call.ctx.decimalArgument();
  throw Excpt("1203");
}

// One line per reader of the list.
void list(ObjectCall) {}

void remove(ObjectCall call) {
  if (call.ctx.decimalArgument()) throw Excpt("1203");  // no reader at any index
  requireReader();
}

void select(ObjectCall call) {
  const std::string& rest = call.ctx.remaining();
  const bool index = !rest.empty() && rest.find_first_not_of("-0123456789") == std::string::npos;
  if (index && call.ctx.decimalArgument() == -1) {
    call.session.explicitSelect = false;
    return;
  }
  // Any other index, and any description, matches no reader of the list.
  throw Excpt("1203");
}

void setMode(ObjectCall call) {
  const auto word = call.ctx.argument();
  Session& s = call.session;
  if (word == "NOSYNC") {
    s.noSync = true;
  } else if (word == "SYNC") {
    s.noSync = false;
  } else if (word == "NOASYNC") {
    s.noAsync = true;
  } else if (word == "ASYNC") {
    s.noAsync = false;
  } else {
    throw Excpt("1203");
  }
}

void setLed(ObjectCall) {
  requireReader();
}

void searchComPort(ObjectCall call) {
  const auto port = call.ctx.decimalArgument();
  if (port && (*port < 1 || *port > kLastComPort)) throw Excpt("1203");
  const std::string& rest = call.ctx.remaining();
  call.env.searchComPort(call.session, port, rest.find("FAST") != std::string::npos,
                         rest.find("SELECT") != std::string::npos);
}

constexpr Method kMethods[] = {
    {"Info", noReaderInfo}, {"InfoDeviceID", infoDeviceId},
    {"List", list},         {"Remove", remove},
    {"Select", select},     {"SetMode", setMode},
    {"SetLed", setLed},     {"SearchComPort", searchComPort},
};

}  // namespace

void runDevice(ObjectCall call) {
  call.env.loadReaderList();
  dispatch(call, kMethods);
}

}  // namespace k52::chiphost
