// The one header kernel drivers include: the NT kernel services of the model,
// under their DDK names, in namespace k52::nt. Drivers write
// `using namespace k52::nt;` and read like NT drivers.
#pragma once

#include "platform/nt/hal.h"
#include "platform/nt/io.h"
#include "platform/nt/ke.h"
#include "platform/nt/ntddkbd.h"
#include "platform/nt/ps.h"
#include "platform/nt/rtl.h"
#include "platform/nt/se.h"
#include "platform/nt/status.h"
#include "platform/nt/types.h"
