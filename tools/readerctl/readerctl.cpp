#include "tools/readerctl/readerctl.h"

#include <cstdio>

#include "chiphost/core/excpt.h"
#include "chiphost/readers/basic_reader_host.h"
#include "chiphost/readers/driver_channel.h"
#include "platform/win32/comm/comm.h"
#include "platform/win32/messaging/user.h"

namespace k52::readerctl {

namespace {

using chiphost::Excpt;
using chiphost::ReaderAttachment;

std::string hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  char buffer[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02X", b);
    out += buffer;
  }
  return out;
}

std::ostream* messageOut = nullptr;

win32::LRESULT contextProc(win32::HWND hwnd, win32::UINT message, win32::WPARAM w,
                           win32::LPARAM l) {
  if (message == chiphost::kDriverTransferMessage) {
    ReaderAttachment::forceStatusOnDriverPorts();
    if (messageOut) *messageOut << "message=2023\n";
    return 0;
  }
  return win32::DefWindowProcA(hwnd, message, w, l);
}

win32::HWND makeContextWindow() {
  win32::WNDCLASSA wc{};
  wc.lpfnWndProc = contextProc;
  wc.lpszClassName = "READERCTL";
  win32::RegisterClassA(&wc);
  return win32::CreateWindowA("READERCTL", "readerctl", 0, 0, 0, 0, 0, 0, nullptr, nullptr,
                              nullptr);
}

void runStep(const Step& s, ReaderAttachment& card, chiphost::BasicReaderHost& host,
             std::ostream& out) {
  using K = Step::Kind;
  switch (s.kind) {
    case K::kAttach:
      card.Attach(s.mode);
      out << "attached=" << card.type() << "\n";
      break;
    case K::kRecheck:
      card.Attach(s.mode);
      out << "recheck=ok\n";
      break;
    case K::kInfo: {
      const auto id = card.GetIdentity();
      const auto& type = chiphost::readerType(card.type());
      out << "Type=" << card.type() << "\nName=" << type.shortName
          << "\nProduct=" << type.productName << "\nVersion=" << versionText(id.version)
          << "\nLotNr=" << id.lotNr << "\nSerial=" << id.serial
          << "\nMaxBaudrate=" << id.maxBaudrateText() << "\n";
      break;
    }
    case K::kPresent: {
      const bool present = card.CardPresent();
      out << "present=" << (present ? "yes" : "no")
          << "\nchanged=" << (card.CardChanged() ? "yes" : "no") << "\n";
      break;
    }
    case K::kLed:
      card.SetLed(s.value);
      out << "led=" << s.value << "\n";
      break;
    case K::kSpeed:
      out << "speed=" << (card.SetSpeed(s.value) ? "yes" : "no") << "\n";
      break;
    case K::kParity:
      card.SetCharParity(s.value);
      out << "parity=" << s.value << "\n";
      break;
    case K::kPower:
      if (s.on) {
        card.PowerOn();
      } else {
        card.PowerOff();
      }
      out << "power=" << (s.on ? "on" : "off") << "\n";
      break;
    case K::kReset: {
      std::uint8_t first = 0;
      if (!card.ResetCard(s.value == 1, first, 1000)) throw Excpt("1310");
      out << "reset=" << hex({&first, 1}) << "\n";
      break;
    }
    case K::kReceive: {
      const win32::DWORD start = win32::GetTickCount();
      std::vector<std::uint8_t> got;
      std::uint8_t b = 0;
      while (got.size() < static_cast<std::size_t>(s.value) && card.ReceiveByte(b, s.first)) {
        got.push_back(b);
      }
      out << "received=" << hex(got) << "\nelapsed=" << (win32::GetTickCount() - start) << "\n";
      break;
    }
    case K::kTransmit: {
      std::vector<std::uint8_t> answer;
      const bool complete = card.Transmit(s.expected, s.end, s.next, s.first, answer, s.bytes);
      out << "answer=" << hex(answer) << "\ncomplete=" << (complete ? "yes" : "no") << "\n";
      break;
    }
    case K::kCounters: {
      auto& fnx = card.fnx();
      auto& channel = chiphost::DriverChannel::instance();
      out << "transfers=" << host.transfers() << "\ngoodframes=" << fnx.goodFrames()
          << "\nbadframes=" << fnx.badFrames() << "\nerrors=" << card.comPort().errorCount()
          << "\nerrormask=0x" << std::hex << card.comPort().errorMask() << std::dec
          << "\nspeed=" << fnx.currentSpeed() << "\ndriver=" << (channel.present() ? "yes" : "no")
          << "\ndriverport=" << (card.comPort().driverFlag() ? "yes" : "no")
          << "\ngeneration=" << int{channel.generation()} << "\n";
      break;
    }
    case K::kSleep:
      card.comPort().WaitMs(static_cast<std::uint32_t>(s.value));
      out << "slept=" << s.value << "\n";
      break;
  }
}

}  // namespace

std::string versionText(std::uint8_t version) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[version >> 4], '.', kDigits[version & 0x0F]};
}

int runSteps(const Invocation& inv, const chiphost::ErrorTexts& texts, std::ostream& out) {
  messageOut = &out;
  chiphost::BasicReaderHost host([&out](std::uint16_t code, std::uint16_t value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", value);
    out << "notify " << code << " " << buffer << "\n";
  });
  const win32::HWND context = makeContextWindow();
  chiphost::DriverChannel::instance().start([](bool) {});
  ReaderAttachment& card = host.cardOfSlot(inv.port, inv.slot);
  card.comPort().setDriverContext(context);
  int result = 0;
  for (const Step& step : inv.steps) {
    try {
      runStep(step, card, host, out);
    } catch (const Excpt& e) {
      const std::string code = e.text().substr(0, e.text().find(','));
      out << "error=" << code << " " << texts.errText("ENGLISH", e.text()) << "\n";
      result = 1;
    }
    // Each step's lines as soon as it ends: someone may be watching a long
    // run (sleep, receive) step by step.
    out.flush();
  }
  chiphost::DriverChannel::instance().stop();
  messageOut = nullptr;
  return result;
}

}  // namespace k52::readerctl
