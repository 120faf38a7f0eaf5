#include "platform/nt/se.h"

namespace k52::nt {
namespace {

thread_local bool callerPrivileged = false;

}  // namespace

BOOLEAN SeSinglePrivilegeCheck(LUID, KPROCESSOR_MODE PreviousMode) {
  return PreviousMode == KernelMode || callerPrivileged;
}

UserModeCaller::UserModeCaller(bool privileged) : previous_(callerPrivileged) {
  callerPrivileged = privileged;
}

UserModeCaller::~UserModeCaller() {
  callerPrivileged = previous_;
}

}  // namespace k52::nt
