// A card's reader: its port, its reader object of each family and the
// protocol parameter block they share, the family chosen at attach time and
// the routing of the device operations to that family's member.
//
// Routing is a two-way choice on the family selector: 1 is the FNX family,
// any other value the UCR family. The UCR family is not part of the server
// yet: everything routed there fails with "1008", and an attach that finds
// no FNX reader fails the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "chiphost/readers/com_port.h"
#include "chiphost/readers/device_fnx.h"
#include "chiphost/readers/reader_host.h"
#include "chiphost/readers/reader_records.h"

namespace k52::chiphost {

class ReaderAttachment {
 public:
  ReaderAttachment(ReaderHost& host, int port, int slot);
  ~ReaderAttachment();
  ReaderAttachment(const ReaderAttachment&) = delete;
  ReaderAttachment& operator=(const ReaderAttachment&) = delete;

  // Modes 0 (silent) and 2 (interactive, 301 progress) detect the reader;
  // 3 and 4 re-check an attached one. Raises "1008" on failure, "1001" when
  // the port cannot be opened (after the same failure path).
  void Attach(int mode);

  bool attached() const { return attached_; }
  int family() const { return family_; }
  int type() const { return type_; }
  int port() const { return portNumber_; }
  int slot() const { return slot_; }
  std::uint8_t capabilities() const { return capabilities_; }

  TComPort& comPort() { return port_; }
  ProtocolParams& params() { return params_; }
  TDeviceFNX& fnx() { return fnx_; }

  // Device operations, routed to the family of the attached reader.
  void SetLed(int code);
  bool SetSpeed(std::int32_t speed);
  void SetCharParity(int parity);
  bool CardPresent();
  bool CardChanged();
  void PowerOn();
  void PowerOff();
  bool ResetCard(bool variant, std::uint8_t& first, std::uint32_t timeoutMs);
  bool ReceiveByte(std::uint8_t& byte, std::uint32_t timeoutMs);
  // The card's current speed is applied again first.
  bool Transmit(std::size_t m, bool end, std::uint32_t g, std::uint32_t f,
                std::vector<std::uint8_t>& answer, std::span<const std::uint8_t> bytes);
  void EndTransfer();
  DeviceIdentity GetIdentity();
  // The speed the card asks for (a PTS result); Transmit re-applies it.
  void setCardSpeed(std::int32_t speed) { cardSpeed_ = speed; }

  // The attached cards, in the order they were attached.
  static const std::vector<ReaderAttachment*>& attachedCards();
  // Message 2023 (a driver transfer completed): every reader on a
  // driver-channel port reads its status at the next CardPresent.
  static void forceStatusOnDriverPorts();

 private:
  void route();  // raises unless attached; "1008" for the UCR family
  void detach();
  void attachTwin();

  ReaderHost& host_;
  int portNumber_;
  int slot_;
  ProtocolParams params_{};
  TComPort port_;
  TDeviceFNX fnx_;
  int family_ = 0;
  int type_ = 0;
  bool attached_ = false;
  std::uint8_t capabilities_ = 0;
  std::int32_t cardSpeed_ = 9600;
};

}  // namespace k52::chiphost
