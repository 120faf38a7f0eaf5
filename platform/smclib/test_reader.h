// A reader driver's side of the block functions for the tests: the
// extension with its library buffers and one transmit request.
#pragma once

#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/smclib/smclib.h"
#include "platform/text/hex.h"

namespace k52::nt::testing {

inline std::vector<UCHAR> bytes(std::string_view hex) {
  return text::parseHex(hex).value();
}

struct TestReader {
  SMARTCARD_EXTENSION ext{};
  std::array<UCHAR, 300> libRequest{};
  std::array<UCHAR, 300> libReply{};
  std::vector<UCHAR> request;
  std::vector<UCHAR> reply;
  ULONG_PTR information = 0;

  TestReader() {
    ext.SmartcardRequest = {libRequest.data(), static_cast<ULONG>(libRequest.size()), 0};
    ext.SmartcardReply = {libReply.data(), static_cast<ULONG>(libReply.size()), 0};
    ext.IoRequest.Information = &information;
    ext.CardCapabilities.T1.IFSC = 32;
    ext.T1.IFSC = 32;
    ext.T1.IFSD = 32;
  }

  // A transmit request for `apdu` with a reply buffer of `replyData` bytes
  // after the header.
  void command(ULONG protocol, std::string_view apdu, ULONG replyData = 300) {
    const SCARD_IO_REQUEST header{protocol, sizeof(SCARD_IO_REQUEST)};
    request.assign(sizeof header, 0);
    std::memcpy(request.data(), &header, sizeof header);
    const auto data = bytes(apdu);
    request.insert(request.end(), data.begin(), data.end());
    reply.assign(sizeof header + replyData, 0);
    ext.CardCapabilities.Protocol.Selected = protocol;
    ext.IoRequest.RequestBuffer = request.data();
    ext.IoRequest.RequestBufferLength = static_cast<ULONG>(request.size());
    ext.IoRequest.ReplyBuffer = reply.data();
    ext.IoRequest.ReplyBufferLength = static_cast<ULONG>(reply.size());
    information = 0;
  }

  std::vector<UCHAR> sent() const {
    return {libRequest.begin(), libRequest.begin() + ext.SmartcardRequest.BufferLength};
  }
  void receive(const std::vector<UCHAR>& block) {
    std::copy(block.begin(), block.end(), libReply.begin());
    ext.SmartcardReply.BufferLength = static_cast<ULONG>(block.size());
  }
  // The answer after the header, as the request's byte count says.
  std::vector<UCHAR> answer() const {
    if (information < sizeof(SCARD_IO_REQUEST)) return {};
    return {reply.begin() + sizeof(SCARD_IO_REQUEST), reply.begin() + information};
  }
};

}  // namespace k52::nt::testing
