// chiphost: the card server program.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>

#include "chiphost/server/command_line.h"
#include "platform/win32/messaging/user.h"

namespace {

std::filesystem::path programDirectory() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path() : self.parent_path();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace k52::chiphost;
  ServerCommandLine cmd;
  try {
    cmd = parseServerCommandLine({argv + 1, argv + argc});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "chiphost: %s\n%s", e.what(), kServerUsage);
    return 2;
  }
  if (cmd.help) {
    std::fputs(kServerUsage, stdout);
    return 0;
  }
  k52::win32::attach(k52::win32::Prefix::resolve(cmd.prefix));
  Server server(cmd.options, ErrorTexts::load(programDirectory()));
  const std::int32_t result = server.run();
  if (result == kSecondInstance || result == kNoServerWindow) {
    std::fprintf(stderr, "chiphost: another server runs in this prefix (%d)\n", result);
    return 1;
  }
  k52::win32::detach();
  return 0;
}
