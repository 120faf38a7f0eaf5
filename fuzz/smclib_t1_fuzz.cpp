// A hostile card end of a T=1 exchange: every block the reader sends is
// answered with bytes from the input. The first byte chooses the link
// (epilogue, IFSC, IFSD offered, command and answer sizes); then each answer
// is a length byte and that many bytes. Nothing may be read or written
// outside the buffers, and a new exchange must always be able to start.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/smclib/smclib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace k52::nt;
  if (size < 2) return 0;
  const std::uint8_t config = data[0];
  const std::uint8_t sizes = data[1];
  std::size_t pos = 2;

  SMARTCARD_EXTENSION ext{};
  std::vector<UCHAR> libRequest(MIN_BUFFER_SIZE), libReply(MIN_BUFFER_SIZE);
  ext.SmartcardRequest = {libRequest.data(), static_cast<ULONG>(libRequest.size()), 0};
  ext.SmartcardReply = {libReply.data(), static_cast<ULONG>(libReply.size()), 0};
  ext.CardCapabilities.T1.EDC = config & 1;
  ext.CardCapabilities.T1.IFSC = static_cast<UCHAR>(1 + ((config >> 1) & 0x3F) * 4);
  ext.ReaderCapabilities.MaxIFSD = config & 0x80 ? 254 : 32;
  ext.CardCapabilities.Protocol.Selected = SCARD_PROTOCOL_T1;
  ext.T1.IFSC = ext.CardCapabilities.T1.IFSC;
  ext.T1.IFSD = 32;

  // Command of 1..512 bytes, answer room of 2..1024 bytes.
  const std::size_t commandLength = 1 + (sizes & 0x0F) * 34;
  const std::size_t replyRoom = 2 + (sizes >> 4) * 68;
  std::vector<UCHAR> request(sizeof(SCARD_IO_REQUEST) + commandLength, 0x5A);
  const SCARD_IO_REQUEST header{SCARD_PROTOCOL_T1, sizeof header};
  std::memcpy(request.data(), &header, sizeof header);
  std::vector<UCHAR> reply(sizeof header + replyRoom);
  ULONG_PTR information = 0;
  ext.IoRequest = {&information, request.data(), static_cast<ULONG>(request.size()), reply.data(),
                   static_cast<ULONG>(reply.size())};

  // Two exchanges, so that state left by the first one meets the second.
  for (int exchange = 0; exchange < 2; ++exchange) {
    NTSTATUS status = STATUS_MORE_PROCESSING_REQUIRED;
    while (status == STATUS_MORE_PROCESSING_REQUIRED) {
      ext.SmartcardRequest.BufferLength = 0;
      if (SmartcardT1Request(&ext) != STATUS_SUCCESS) std::abort();
      if (ext.SmartcardRequest.BufferLength > ext.SmartcardRequest.BufferSize) std::abort();
      if (pos >= size) return 0;
      const std::size_t claimed = data[pos++];
      const std::size_t n = std::min(claimed, size - pos);
      std::memcpy(libReply.data(), data + pos, std::min(n, libReply.size()));
      ext.SmartcardReply.BufferLength = static_cast<ULONG>(n);
      pos += n;
      status = SmartcardT1Reply(&ext);
    }
    if (status == STATUS_SUCCESS && information > reply.size()) std::abort();
  }
  return 0;
}
