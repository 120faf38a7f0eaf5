// Se: the privilege check drivers make for requests from user mode.
//
// The model has no tokens. A user-mode caller is privileged or not as a
// whole, as the handle it calls through was opened (Kernel::openDevice);
// the check reads that for the thread making the request. Kernel-mode
// callers hold every privilege.
#pragma once

#include "platform/nt/types.h"

namespace k52::nt {

struct LUID {
  ULONG LowPart;
  LONG HighPart;
};

inline constexpr ULONG SE_LOAD_DRIVER_PRIVILEGE = 10;

constexpr LUID RtlConvertLongToLuid(LONG value) {
  return LUID{static_cast<ULONG>(value), value < 0 ? -1 : 0};
}

BOOLEAN SeSinglePrivilegeCheck(LUID PrivilegeValue, KPROCESSOR_MODE PreviousMode);

// While it lives, requests the current thread makes come from a user-mode
// caller with (or without) privileges. Used by DeviceHandle.
class UserModeCaller {
 public:
  explicit UserModeCaller(bool privileged);
  ~UserModeCaller();
  UserModeCaller(const UserModeCaller&) = delete;
  UserModeCaller& operator=(const UserModeCaller&) = delete;

 private:
  bool previous_;
};

}  // namespace k52::nt
