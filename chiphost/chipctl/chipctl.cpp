#include "chiphost/chipctl/chipctl.h"

#include <csignal>
#include <string>

#include "platform/text/hex.h"

namespace k52::chiphost::chipctl {

namespace {

volatile std::sig_atomic_t interrupted = 0;

// The server's texts are Windows-1252; the terminal takes UTF-8. Characters
// of 0x80..0x9F other than the common ones print as '?'.
std::string ansiToUtf8(std::string_view text) {
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else if (c < 0xA0) {
      out += c == 0x80 ? "\xE2\x82\xAC" : "?";
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string channelText(std::int32_t result) {
  switch (result) {
    case kNoClientWindow:
      return "the client window could not be made";
    case kServerNotStarted:
      return "the server program could not be started";
    case kServerNotUp:
      return "the server did not come up";
    case kIncompatibleServer:
      return "the server speaks another protocol version";
    case kNoReply:
      return "no reply from the server";
    case kNotDelivered:
      return "the request did not reach the server";
    case kNoServerMailslot:
      return "the server's mailslot cannot be opened";
    default:
      return "channel failure";
  }
}

void printReply(const Options& options, const ClientReply& reply, std::FILE* out) {
  if (reply.data.empty()) return;
  if (options.hex) {
    std::fprintf(out, "%s\n", text::formatHex(reply.data).c_str());
    return;
  }
  std::fwrite(reply.data.data(), 1, reply.data.size(), out);
  if (reply.data.back() != '\n') std::fputc('\n', out);
}

void printFailure(const Command& command, const ClientReply& reply, Client& client,
                  std::FILE* err) {
  if (reply.result < 0) {
    std::fprintf(err, "chipctl: %s: %d: %s\n", command.text.c_str(), reply.result,
                 channelText(reply.result).c_str());
    return;
  }
  // The error text in the session's language, from the session itself.
  const ClientReply text = client.request("System,Info,ErrText");
  const std::string message =
      text.result == 0
          ? ansiToUtf8({reinterpret_cast<const char*>(text.data.data()), text.data.size()})
          : std::string();
  std::fprintf(err, "chipctl: %s: %04X: %s\n", command.text.c_str(),
               static_cast<unsigned>(reply.result), message.c_str());
}

int watch(const Options& options, Client& client, std::FILE* out, std::FILE* err) {
  if (const std::int32_t r = client.connect(); r != 0) {
    std::fprintf(err, "chipctl: %d: %s\n", r, channelText(r).c_str());
    return 1;
  }
  const std::string registration = "System,AddHWndMsg," + std::to_string(client.window()) + "," +
                                   std::to_string(kNotificationMessage);
  const ClientReply r = client.request(registration);
  if (r.result != 0) {
    printFailure({registration, {}}, r, client, err);
    return 1;
  }
  client.setObserver([out](const win32::MSG& msg) {
    if (msg.message != kNotificationMessage) return;
    std::fprintf(out, "%u %u\n", static_cast<unsigned>(msg.wParam),
                 static_cast<unsigned>(static_cast<std::uint32_t>(msg.lParam)));
    std::fflush(out);
  });
  std::signal(SIGINT, [](int) { interrupted = 1; });
  std::signal(SIGTERM, [](int) { interrupted = 1; });
  const auto end = options.watchSeconds ? std::chrono::steady_clock::now() +
                                              std::chrono::seconds(*options.watchSeconds)
                                        : std::chrono::steady_clock::time_point::max();
  while (!interrupted && std::chrono::steady_clock::now() < end) {
    client.pump(std::chrono::milliseconds(100));
  }
  return 0;
}

}  // namespace

int run(const Options& options, Client& client, std::FILE* out, std::FILE* err) {
  int status = 0;
  for (const Command& command : options.commands) {
    const ClientReply reply = client.request(command.text, command.data);
    printReply(options, reply, out);
    if (reply.result != 0) {
      printFailure(command, reply, client, err);
      status = 1;
      if (reply.result < 0) return status;
    }
  }
  std::fflush(out);
  if (options.watch && watch(options, client, out, err) != 0) status = 1;
  return status;
}

}  // namespace k52::chiphost::chipctl
