// Object Card: the card in the session's reader. Without a reader, Info
// reports Status "error", Unlock has no lock to release, and every other
// method fails its access check.
#include "chiphost/core/objects.h"

namespace k52::chiphost {
namespace {

void info(ObjectCall call) {
  PropertyReply reply(call.ctx);
  reply.text("Status", "error");
  reply.finish();
}

void unlock(ObjectCall) {}

void accessChecked(ObjectCall) {
  requireReader();
}

constexpr Method kMethods[] = {
    {"Info", info},
    {"Lock", accessChecked},
    {"Unlock", unlock},
    {"PTS", accessChecked},
    {"MemRead", accessChecked},
    {"MemEnableCache", accessChecked},
    {"MemDisableCache", accessChecked},
    {"MemWrite", accessChecked},
    {"MemVerify", accessChecked},
    {"MemReadPB", accessChecked},
    {"MemSetPB", accessChecked},
    {"MemWritePB", accessChecked},
    {"MemVerifyPB", accessChecked},
    {"MemReadStatus", accessChecked},
    {"MemVerifyPin", accessChecked},
    {"MemChangePin", accessChecked},
    {"Reset", accessChecked},
    {"PowerOff", accessChecked},
    {"InitBwtCwt", accessChecked},
    {"InitSadDad", accessChecked},
    {"InitIfsdIfsc", accessChecked},
    {"TspRxLen", accessChecked},
    {"T0TX", accessChecked},
    {"T0RX", accessChecked},
    {"T1", accessChecked},
    {"APDU", accessChecked},
    {"ISOAPDU", accessChecked},
};

}  // namespace

void runCard(ObjectCall call) {
  call.env.loadReaderList();
  dispatch(call, kMethods);
}

}  // namespace k52::chiphost
