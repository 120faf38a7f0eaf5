/*
 * The PC/SC CT-API library (libctbridge.so): the CT-API of ctapi.h, plus
 * CT_getrd for configuration tools.
 *
 * Terminal number ctn is served by the PC/SC reader named in the per-user
 * registry value HKCU\CTAPIDLL.INI\OPT "ReaderName<ctn>" of the prefix
 * ($K52_PREFIX). "DEBUG" = "ON..." traces to the TRCHOOK library's DebugPrint,
 * "ONN" also to the file "<DEBUGDIR>_cc.prt" (default C:\_cc.prt).
 */
#ifndef K52_CTBRIDGE_H
#define K52_CTBRIDGE_H

#include <stdint.h>

#include "ctapi/include/ctapi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Lists the PC/SC readers as NUL-terminated names ended by one more NUL,
 * through the context opened by CT_init. *length holds the buffer's capacity
 * on entry and the characters used on return. Returns the PC/SC status. */
int32_t CT_getrd(char* buffer, uint32_t* length);

#ifdef __cplusplus
}
#endif

#endif /* K52_CTBRIDGE_H */
