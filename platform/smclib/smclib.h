// The smart card driver library: the per-reader smart card extension, the
// dispatch of the standard smart card requests to the reader driver's
// callbacks, ATR parsing and the T=0 and T=1 block protocols of ISO/IEC
// 7816-3. Names, request codes and attribute tags are the platform's public
// smart card ones, in namespace k52::nt beside the kernel model, so that a
// reader driver written with `using namespace k52::nt;` reads as usual.
//
// A reader driver:
//   - fills a zeroed extension (Version, VendorAttr, ReaderCapabilities,
//     ReaderFunction[RDF_*], the request and reply buffer sizes, optionally
//     its own buffers), calls SmartcardInitialize and notes its device in
//     OsData->DeviceObject;
//   - passes IRP_MJ_DEVICE_CONTROL requests to SmartcardDeviceControl, which
//     checks the buffers, answers what it can itself and calls the reader
//     functions for the rest;
//   - keeps ReaderCapabilities.CurrentState and CardCapabilities.ATR up to
//     date and calls SmartcardUpdateCardCapabilities after a reset;
//   - runs T=0 and T=1 exchanges with the request/reply pairs below;
//   - provides RDF_CARD_TRACKING, called for an IS_PRESENT or IS_ABSENT
//     request that cannot be answered at once: the request is then held in
//     OsData->NotificationIrp (its control code says which of the two), with
//     the library's cancel routine (STATUS_CANCELLED) unless the driver
//     installs its own under the cancel spin lock. The function returns
//     STATUS_PENDING to keep it, or a status to have it completed with. The
//     driver completes it when the card comes or goes, for instance with
//     SmartcardCompleteCardTracking. The held request is taken and given
//     back under the cancel spin lock; its DriverContext[3] is the library's;
//   - calls SmartcardExit before deleting its device.
//
// Every buffer the library reads or writes is bounded by the length fields
// beside it; a length that does not fit fails the call, nothing is written
// past a buffer.
#pragma once

#include "platform/nt/ntddk.h"

namespace k52::nt {

// --- request codes ---

inline constexpr ULONG SCARD_CTL_CODE(ULONG code) {
  return CTL_CODE(FILE_DEVICE_SMARTCARD, code, METHOD_BUFFERED, FILE_ANY_ACCESS);
}
inline constexpr ULONG IOCTL_SMARTCARD_POWER = SCARD_CTL_CODE(1);
inline constexpr ULONG IOCTL_SMARTCARD_GET_ATTRIBUTE = SCARD_CTL_CODE(2);
inline constexpr ULONG IOCTL_SMARTCARD_SET_ATTRIBUTE = SCARD_CTL_CODE(3);
inline constexpr ULONG IOCTL_SMARTCARD_CONFISCATE = SCARD_CTL_CODE(4);
inline constexpr ULONG IOCTL_SMARTCARD_TRANSMIT = SCARD_CTL_CODE(5);
inline constexpr ULONG IOCTL_SMARTCARD_EJECT = SCARD_CTL_CODE(6);
inline constexpr ULONG IOCTL_SMARTCARD_SWALLOW = SCARD_CTL_CODE(7);
inline constexpr ULONG IOCTL_SMARTCARD_IS_PRESENT = SCARD_CTL_CODE(10);
inline constexpr ULONG IOCTL_SMARTCARD_IS_ABSENT = SCARD_CTL_CODE(11);
inline constexpr ULONG IOCTL_SMARTCARD_SET_PROTOCOL = SCARD_CTL_CODE(12);
inline constexpr ULONG IOCTL_SMARTCARD_GET_STATE = SCARD_CTL_CODE(14);
inline constexpr ULONG IOCTL_SMARTCARD_GET_LAST_ERROR = SCARD_CTL_CODE(15);

// Minor codes of IOCTL_SMARTCARD_POWER.
inline constexpr ULONG SCARD_POWER_DOWN = 0;
inline constexpr ULONG SCARD_COLD_RESET = 1;
inline constexpr ULONG SCARD_WARM_RESET = 2;

// --- card states (ReaderCapabilities.CurrentState) ---

inline constexpr ULONG SCARD_UNKNOWN = 0;
inline constexpr ULONG SCARD_ABSENT = 1;
inline constexpr ULONG SCARD_PRESENT = 2;
inline constexpr ULONG SCARD_SWALLOWED = 3;  // present, not powered
inline constexpr ULONG SCARD_POWERED = 4;
inline constexpr ULONG SCARD_NEGOTIABLE = 5;
inline constexpr ULONG SCARD_SPECIFIC = 6;

// --- protocols ---

inline constexpr ULONG SCARD_PROTOCOL_UNDEFINED = 0x00000000;
inline constexpr ULONG SCARD_PROTOCOL_T0 = 0x00000001;
inline constexpr ULONG SCARD_PROTOCOL_T1 = 0x00000002;
inline constexpr ULONG SCARD_PROTOCOL_RAW = 0x00010000;
inline constexpr ULONG SCARD_PROTOCOL_Tx = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
inline constexpr ULONG SCARD_PROTOCOL_DEFAULT = 0x80000000;
inline constexpr ULONG SCARD_PROTOCOL_OPTIMAL = 0x00000000;

// --- reader types (ReaderCapabilities.ReaderType) ---

inline constexpr ULONG SCARD_READER_TYPE_SERIAL = 0x01;
inline constexpr ULONG SCARD_READER_TYPE_PARALELL = 0x02;
inline constexpr ULONG SCARD_READER_TYPE_KEYBOARD = 0x04;
inline constexpr ULONG SCARD_READER_TYPE_SCSI = 0x08;
inline constexpr ULONG SCARD_READER_TYPE_IDE = 0x10;
inline constexpr ULONG SCARD_READER_TYPE_USB = 0x20;
inline constexpr ULONG SCARD_READER_TYPE_PCMCIA = 0x40;
inline constexpr ULONG SCARD_READER_TYPE_VENDOR = 0xF0;

// --- attributes ---

inline constexpr ULONG SCARD_CLASS_VENDOR_INFO = 1;
inline constexpr ULONG SCARD_CLASS_COMMUNICATIONS = 2;
inline constexpr ULONG SCARD_CLASS_PROTOCOL = 3;
inline constexpr ULONG SCARD_CLASS_POWER_MGMT = 4;
inline constexpr ULONG SCARD_CLASS_SECURITY = 5;
inline constexpr ULONG SCARD_CLASS_MECHANICAL = 6;
inline constexpr ULONG SCARD_CLASS_VENDOR_DEFINED = 7;
inline constexpr ULONG SCARD_CLASS_IFD_PROTOCOL = 8;
inline constexpr ULONG SCARD_CLASS_ICC_STATE = 9;
inline constexpr ULONG SCARD_CLASS_SYSTEM = 0x7FFF;

inline constexpr ULONG SCARD_ATTR_VALUE(ULONG Class, ULONG Tag) {
  return (Class << 16) | Tag;
}
inline constexpr ULONG SCARD_ATTR_CLASS(ULONG Attribute) {
  return Attribute >> 16;
}

inline constexpr ULONG SCARD_ATTR_VENDOR_NAME = SCARD_ATTR_VALUE(SCARD_CLASS_VENDOR_INFO, 0x0100);
inline constexpr ULONG SCARD_ATTR_VENDOR_IFD_TYPE =
    SCARD_ATTR_VALUE(SCARD_CLASS_VENDOR_INFO, 0x0101);
inline constexpr ULONG SCARD_ATTR_VENDOR_IFD_VERSION =
    SCARD_ATTR_VALUE(SCARD_CLASS_VENDOR_INFO, 0x0102);
inline constexpr ULONG SCARD_ATTR_VENDOR_IFD_SERIAL_NO =
    SCARD_ATTR_VALUE(SCARD_CLASS_VENDOR_INFO, 0x0103);
inline constexpr ULONG SCARD_ATTR_CHANNEL_ID = SCARD_ATTR_VALUE(SCARD_CLASS_COMMUNICATIONS, 0x0110);
inline constexpr ULONG SCARD_ATTR_PROTOCOL_TYPES = SCARD_ATTR_VALUE(SCARD_CLASS_PROTOCOL, 0x0120);
inline constexpr ULONG SCARD_ATTR_DEFAULT_CLK = SCARD_ATTR_VALUE(SCARD_CLASS_PROTOCOL, 0x0121);
inline constexpr ULONG SCARD_ATTR_MAX_CLK = SCARD_ATTR_VALUE(SCARD_CLASS_PROTOCOL, 0x0122);
inline constexpr ULONG SCARD_ATTR_DEFAULT_DATA_RATE =
    SCARD_ATTR_VALUE(SCARD_CLASS_PROTOCOL, 0x0123);
inline constexpr ULONG SCARD_ATTR_MAX_DATA_RATE = SCARD_ATTR_VALUE(SCARD_CLASS_PROTOCOL, 0x0124);
inline constexpr ULONG SCARD_ATTR_MAX_IFSD = SCARD_ATTR_VALUE(SCARD_CLASS_PROTOCOL, 0x0125);
inline constexpr ULONG SCARD_ATTR_POWER_MGMT_SUPPORT =
    SCARD_ATTR_VALUE(SCARD_CLASS_POWER_MGMT, 0x0131);
inline constexpr ULONG SCARD_ATTR_USER_TO_CARD_AUTH_DEVICE =
    SCARD_ATTR_VALUE(SCARD_CLASS_SECURITY, 0x0140);
inline constexpr ULONG SCARD_ATTR_USER_AUTH_INPUT_DEVICE =
    SCARD_ATTR_VALUE(SCARD_CLASS_SECURITY, 0x0142);
inline constexpr ULONG SCARD_ATTR_CHARACTERISTICS =
    SCARD_ATTR_VALUE(SCARD_CLASS_MECHANICAL, 0x0150);
inline constexpr ULONG SCARD_ATTR_CURRENT_PROTOCOL_TYPE =
    SCARD_ATTR_VALUE(SCARD_CLASS_IFD_PROTOCOL, 0x0201);
inline constexpr ULONG SCARD_ATTR_CURRENT_CLK = SCARD_ATTR_VALUE(SCARD_CLASS_IFD_PROTOCOL, 0x0202);
inline constexpr ULONG SCARD_ATTR_CURRENT_F = SCARD_ATTR_VALUE(SCARD_CLASS_IFD_PROTOCOL, 0x0203);
inline constexpr ULONG SCARD_ATTR_CURRENT_D = SCARD_ATTR_VALUE(SCARD_CLASS_IFD_PROTOCOL, 0x0204);
inline constexpr ULONG SCARD_ATTR_CURRENT_N = SCARD_ATTR_VALUE(SCARD_CLASS_IFD_PROTOCOL, 0x0205);
inline constexpr ULONG SCARD_ATTR_CURRENT_W = SCARD_ATTR_VALUE(SCARD_CLASS_IFD_PROTOCOL, 0x0206);
inline constexpr ULONG SCARD_ATTR_CURRENT_IFSC = SCARD_ATTR_VALUE(SCARD_CLASS_IFD_PROTOCOL, 0x0207);
inline constexpr ULONG SCARD_ATTR_CURRENT_IFSD = SCARD_ATTR_VALUE(SCARD_CLASS_IFD_PROTOCOL, 0x0208);
inline constexpr ULONG SCARD_ATTR_CURRENT_BWT = SCARD_ATTR_VALUE(SCARD_CLASS_IFD_PROTOCOL, 0x0209);
inline constexpr ULONG SCARD_ATTR_CURRENT_CWT = SCARD_ATTR_VALUE(SCARD_CLASS_IFD_PROTOCOL, 0x020A);
inline constexpr ULONG SCARD_ATTR_CURRENT_EBC_ENCODING =
    SCARD_ATTR_VALUE(SCARD_CLASS_IFD_PROTOCOL, 0x020B);
inline constexpr ULONG SCARD_ATTR_ICC_PRESENCE = SCARD_ATTR_VALUE(SCARD_CLASS_ICC_STATE, 0x0300);
inline constexpr ULONG SCARD_ATTR_ICC_INTERFACE_STATUS =
    SCARD_ATTR_VALUE(SCARD_CLASS_ICC_STATE, 0x0301);
inline constexpr ULONG SCARD_ATTR_ATR_STRING = SCARD_ATTR_VALUE(SCARD_CLASS_ICC_STATE, 0x0303);
inline constexpr ULONG SCARD_ATTR_DEVICE_UNIT = SCARD_ATTR_VALUE(SCARD_CLASS_SYSTEM, 0x0001);
inline constexpr ULONG SCARD_ATTR_SUPRESS_T1_IFS_REQUEST =
    SCARD_ATTR_VALUE(SCARD_CLASS_SYSTEM, 0x0007);

// --- reader functions (indices into ReaderFunction) ---

inline constexpr ULONG RDF_CARD_POWER = 0;
inline constexpr ULONG RDF_TRANSMIT = 1;
inline constexpr ULONG RDF_CARD_EJECT = 2;
inline constexpr ULONG RDF_READER_SWALLOW = 3;
inline constexpr ULONG RDF_CARD_TRACKING = 4;
inline constexpr ULONG RDF_SET_PROTOCOL = 5;
inline constexpr ULONG RDF_DEBUG_LEVEL = 6;
inline constexpr ULONG RDF_CARD_CONFISCATE = 7;
inline constexpr ULONG RDF_IOCTL_VENDOR = 8;
inline constexpr ULONG RDF_ATR_PARSE = 9;

// --- sizes and versions ---

inline constexpr ULONG SMCLIB_VERSION = 0x110;
inline constexpr ULONG SMCLIB_VERSION_REQUIRED = 0x100;
inline constexpr ULONG MAXIMUM_ATTR_STRING_LENGTH = 32;
inline constexpr ULONG MAXIMUM_SMARTCARD_READERS = 10;
// The smallest request and reply buffers SmartcardInitialize allocates: a
// T=0 command of 5 + 255 bytes or a T=1 block of 3 + 254 + 2, with room.
inline constexpr ULONG MIN_BUFFER_SIZE = 288;
inline constexpr ULONG SCARD_ATR_LENGTH = 33;  // the longest ATR ISO/IEC 7816-3 allows
inline constexpr UCHAR T1_IFSD_DEFAULT = 32;   // IFSC and IFSD until negotiated

// --- structures ---

struct SMARTCARD_EXTENSION;
using PSMARTCARD_EXTENSION = SMARTCARD_EXTENSION*;

// Opaque to the library: the reader driver's own per-reader state.
struct READER_EXTENSION;
using PREADER_EXTENSION = READER_EXTENSION*;

using PRDF_FUNCTION = NTSTATUS (*)(PSMARTCARD_EXTENSION SmartcardExtension);

// Header of a transmit request and of its answer.
struct SCARD_IO_REQUEST {
  ULONG dwProtocol;
  ULONG cbPciLength;  // length of this header and what follows it up to the data
};
using PSCARD_IO_REQUEST = SCARD_IO_REQUEST*;

struct VENDOR_ATTR {
  struct {
    USHORT Length;
    UCHAR Buffer[MAXIMUM_ATTR_STRING_LENGTH];
  } VendorName, IfdType, IfdSerialNo;
  struct {
    USHORT VersionMinor;
    USHORT VersionMajor;
    USHORT BuildNumber;
  } IfdVersion;
  ULONG UnitNo;
};

// What the ATR says about the card (SmartcardUpdateCardCapabilities) and
// the protocol in use (the reader driver). Times are in microseconds at the
// reader's default clock frequency.
struct SCARD_CARD_CAPABILITIES {
  BOOLEAN InversConvention;
  ULONG etu;
  struct {
    UCHAR Buffer[64];
    UCHAR Length;
  } ATR;
  struct {
    UCHAR Buffer[16];
    UCHAR Length;
  } HistoricalChars;
  UCHAR Fl;  // TA1 high nibble: index of Fi
  UCHAR Dl;  // TA1 low nibble: index of Di
  UCHAR II;  // TB1 programming current (deprecated)
  UCHAR P;   // TB1/TB2 programming voltage (deprecated)
  UCHAR N;   // TC1 extra guard time
  ULONG GT;  // character guard time
  struct {
    ULONG Supported;
    ULONG Selected;
  } Protocol;
  struct {
    UCHAR WI;  // TC2, 10 by default
    ULONG WT;
  } T0;
  struct {
    UCHAR IFSC;  // first TA for T=1, 32 by default
    UCHAR CWI;   // first TB for T=1, low nibble, 13 by default
    UCHAR BWI;   // first TB for T=1, high nibble, 4 by default
    UCHAR EDC;   // first TC for T=1: bit 0 set = CRC, else LRC
    ULONG CWT;
    ULONG BWT;
    ULONG BGT;
  } T1;
};

struct SCARD_READER_CAPABILITIES {
  ULONG SupportedProtocols;
  ULONG Reserved;
  ULONG ReaderType;
  ULONG MechProperties;
  ULONG CurrentState;
  ULONG Channel;
  struct {
    ULONG Default;
    ULONG Max;
  } CLKFrequency, DataRate;  // kHz, bit/s
  ULONG MaxIFSD;
  ULONG PowerMgmtSupport;
  ULONG CardConfiscated;
};

// A library buffer: BufferSize bytes at Buffer, BufferLength of them in use.
struct SMARTCARD_REQUEST {
  PUCHAR Buffer;
  ULONG BufferSize;
  ULONG BufferLength;
};
using SMARTCARD_REPLY = SMARTCARD_REQUEST;

// The T=0 command being run: Lc and Le of its command APDU.
struct T0_DATA {
  ULONG Lc;
  ULONG Le;
};

// T=1 link state. IFSC, IFSD, NAD and the two sequence numbers carry over
// from one exchange to the next; the rest belongs to the exchange running.
struct T1_DATA {
  UCHAR IFSC;  // largest information field the card takes, in force
  UCHAR IFSD;  // largest information field the reader takes, in force
  UCHAR NAD;   // node address sent with every block
  UCHAR SSN;   // N(S) of the reader's next I-block
  UCHAR RSN;   // N(S) expected of the card's next I-block
  // The card's waiting-time extension: the multiplier of the block waiting
  // time for the answer to the block built last, 0 when none is in force.
  UCHAR Wtx;
  BOOLEAN IfsdNegotiated;
  BOOLEAN NoIfsRequest;  // SCARD_ATTR_SUPRESS_T1_IFS_REQUEST
  BOOLEAN ResyncPending;
  // The ATR the link was started for (CardCapabilities.ATR then).
  UCHAR AtrLength;
  UCHAR Atr[64];
  // Exchange state, private to SmartcardT1Request/Reply.
  UCHAR State;
  UCHAR Phase;
  UCHAR Next;       // kind of block to build next
  UCHAR NextType;   // S-block type or R-block error code
  UCHAR NextValue;  // S-block information byte
  UCHAR Sent;       // kind of block built last
  UCHAR SentType;
  UCHAR SentValue;
  UCHAR Errors;      // invalid or refused blocks in a row
  UCHAR Resyncs;     // resynchronisations in this exchange
  BOOLEAN LastMore;  // M bit of the last I-block
  ULONG LastLength;  // information field length of the last I-block
  ULONG BytesSent;   // command bytes the card has acknowledged
  ULONG BytesReceived;
};

// The library's per-reader data beside the extension.
struct OS_DEP_DATA {
  PDEVICE_OBJECT DeviceObject;  // noted by the reader driver
  PIRP CurrentIrp;              // the request being dispatched
  PIRP NotificationIrp;         // a waiting IS_PRESENT / IS_ABSENT request
  KSPIN_LOCK SpinLock;          // guards the three above and CurrentState
  // Private: buffers the library allocated, and its copy of a transmit
  // request (input and output of a buffered request share one buffer).
  PUCHAR OwnRequestBuffer;
  PUCHAR OwnReplyBuffer;
  PUCHAR TransmitCopy;
  ULONG TransmitCopySize;
};
using POS_DEP_DATA = OS_DEP_DATA*;

struct SMARTCARD_EXTENSION {
  ULONG Version;
  VENDOR_ATTR VendorAttr;
  PRDF_FUNCTION ReaderFunction[16];
  SCARD_CARD_CAPABILITIES CardCapabilities;
  ULONG LastError;  // status of the last failed request
  // The request being served. RequestBuffer and ReplyBuffer must not
  // overlap while a T=0 or T=1 exchange runs.
  struct {
    ULONG_PTR* Information;  // the IRP's byte count
    PUCHAR RequestBuffer;
    ULONG RequestBufferLength;
    PUCHAR ReplyBuffer;
    ULONG ReplyBufferLength;
  } IoRequest;
  ULONG MajorIoControlCode;
  ULONG MinorIoControlCode;  // power code or protocol mask
  POS_DEP_DATA OsData;
  SCARD_READER_CAPABILITIES ReaderCapabilities;
  PREADER_EXTENSION ReaderExtension;
  SMARTCARD_REPLY SmartcardReply;
  SMARTCARD_REQUEST SmartcardRequest;
  T0_DATA T0;
  T1_DATA T1;
};

// --- functions ---

// Sets up the library's data for a filled-in extension: OsData, and request
// and reply buffers of max(BufferSize, MIN_BUFFER_SIZE) bytes where Buffer
// is null (a driver's own buffer is used as it is). STATUS_INVALID_PARAMETER
// for a version below SMCLIB_VERSION_REQUIRED or an own buffer of size 0,
// STATUS_INSUFFICIENT_RESOURCES when memory runs out.
NTSTATUS SmartcardInitialize(PSMARTCARD_EXTENSION SmartcardExtension);
// Completes a still held tracking request with STATUS_CANCELLED and frees
// what SmartcardInitialize allocated.
void SmartcardExit(PSMARTCARD_EXTENSION SmartcardExtension);

// Creates the first free link "\DosDevices\SCReader0".."9" to DeviceName.
// LinkName receives the link's name in a buffer the library allocates;
// SmartcardDeleteLink removes the link and frees it.
NTSTATUS SmartcardCreateLink(PUNICODE_STRING LinkName, PUNICODE_STRING DeviceName);
NTSTATUS SmartcardDeleteLink(PUNICODE_STRING LinkName);

// Serves an IRP_MJ_DEVICE_CONTROL request (buffered) and completes it,
// unless it is a tracking request left pending: then STATUS_PENDING. One
// request at a time: a second one meanwhile gets STATUS_DEVICE_BUSY.
NTSTATUS SmartcardDeviceControl(PSMARTCARD_EXTENSION SmartcardExtension, PIRP Irp);

// Completes a held tracking request with success and 0 bytes, if any.
void SmartcardCompleteCardTracking(PSMARTCARD_EXTENSION SmartcardExtension);

// Parses CardCapabilities.ATR into CardCapabilities (all but
// Protocol.Selected) and starts the T=1 link afresh when the ATR is not the
// one the link was started for: a driver may call it again for the card it
// already speaks to (a status poll) without losing the link's sequence
// numbers. A power request (IOCTL_SMARTCARD_POWER) starts the link afresh
// whatever the ATR. An ATR in inverse
// convention read as direct (TS 0x03) is converted in place. Length 0
// clears the capabilities. STATUS_UNRECOGNIZED_MEDIA for an ATR that is
// truncated, too long, has a bad TS or a wrong TCK; the capabilities are
// then cleared (nothing offered).
NTSTATUS SmartcardUpdateCardCapabilities(PSMARTCARD_EXTENSION SmartcardExtension);

// T=0: builds the command TPDU of the APDU in IoRequest (after its
// SCARD_IO_REQUEST header) into SmartcardRequest.Buffer from offset
// SmartcardRequest.BufferLength (room the driver keeps for its own header)
// and advances BufferLength. Short APDUs of cases 1 to 4.
NTSTATUS SmartcardT0Request(PSMARTCARD_EXTENSION SmartcardExtension);
// T=0: checks the answer in SmartcardReply (data and SW1 SW2) and copies it
// after the header into IoRequest.ReplyBuffer; *Information = its length.
NTSTATUS SmartcardT0Reply(PSMARTCARD_EXTENSION SmartcardExtension);

// T=1: builds the next block into SmartcardRequest.Buffer from offset
// SmartcardRequest.BufferLength. A call that does not follow a Reply
// returning STATUS_MORE_PROCESSING_REQUIRED starts a new exchange for the
// APDU in IoRequest, and so does the first call for every transmit request
// that SmartcardDeviceControl passes on. An exchange left unfinished makes
// the next one begin with a resynchronisation.
NTSTATUS SmartcardT1Request(PSMARTCARD_EXTENSION SmartcardExtension);
// T=1: checks the card's block in SmartcardReply. STATUS_MORE_PROCESSING_
// REQUIRED: send the next block (SmartcardT1Request) and call again with
// its answer; STATUS_SUCCESS: the answer is in IoRequest.ReplyBuffer after
// the header, *Information = its length; anything else ends the exchange.
NTSTATUS SmartcardT1Reply(PSMARTCARD_EXTENSION SmartcardExtension);

}  // namespace k52::nt
