/*
 * The CT-API: the card-terminal interface every k52kit CT-API library exports.
 *
 * A library exports exactly CT_init, CT_data and CT_close with these plain C
 * names (the PC/SC library adds CT_getrd, see ctbridge.h). Applications either
 * link the library or load it by file name at run time and look the names up.
 *
 * Per terminal the calling order is CT_init, any number of CT_data, CT_close.
 * One call at a time per process: the libraries take no locks.
 *
 * All integers are host order. Every entry point returns one of the result
 * codes below and never throws.
 */
#ifndef K52_CTAPI_H
#define K52_CTAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
enum {
  OK = 0,           /* the command was executed; the response holds its status bytes */
  ERR_INVALID = -1, /* unknown terminal, bad command length or class, unsupported instruction */
  ERR_CT = -8,      /* the terminal (reader) could not be reached */
  ERR_TRANS = -10,  /* transmission error while exchanging with the card */
  ERR_MEMORY = -11, /* the response buffer is too small for the response */
  ERR_HTSI = -128   /* the software interface below the library failed */
};

/* Addresses for dad and sad. A command sent to CTAPI_ADDR_CT is a CT-BCS
 * command for the terminal; any other destination passes it to the card. On
 * return the library has exchanged dad and sad, so that sad names the
 * responder and dad the requester. */
enum { CTAPI_ADDR_ICC1 = 0, CTAPI_ADDR_CT = 1, CTAPI_ADDR_HOST = 2 };

/* CT-BCS instructions (class byte 0x20). */
enum {
  CTBCS_CLA = 0x20,
  CTBCS_INS_RESET = 0x11,
  CTBCS_INS_REQUEST = 0x12,
  CTBCS_INS_STATUS = 0x13,
  CTBCS_INS_EJECT = 0x15,
  CTBCS_INS_INPUT = 0x16,
  CTBCS_INS_OUTPUT = 0x17,
  CTBCS_INS_PERFORM_VERIFICATION = 0x18,
  CTBCS_INS_MODIFY_VERIFICATION_DATA = 0x19
};

/* Opens terminal ctn, asking for it on port pn. Must precede CT_data. */
int8_t CT_init(uint16_t ctn, uint16_t pn);

/* Sends one command of lenc bytes and receives one response: data bytes
 * followed by SW1 SW2. *lenr holds the response buffer's capacity on entry
 * and the number of response bytes on return; nothing is written past the
 * capacity. dad and sad are exchanged before the call returns. */
int8_t CT_data(uint16_t ctn, uint8_t* dad, uint8_t* sad, uint16_t lenc, const uint8_t* command,
               uint16_t* lenr, uint8_t* response);

/* Closes terminal ctn; balances one CT_init. */
int8_t CT_close(uint16_t ctn);

#ifdef __cplusplus
}
#endif

#endif /* K52_CTAPI_H */
