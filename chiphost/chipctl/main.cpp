// chipctl: sends commands to the card server and prints the replies.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "chiphost/chipctl/chipctl.h"
#include "platform/win32/messaging/user.h"

namespace {

// The server is looked for beside chipctl first.
void findServerBesideMe() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return;
  std::string path = self.parent_path().string();
  if (const char* old = std::getenv("K52_PROGRAM_PATH"); old != nullptr && *old != '\0')
    path += ":" + std::string(old);
  ::setenv("K52_PROGRAM_PATH", path.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace k52::chiphost;
  chipctl::Options options;
  try {
    options = chipctl::parseCommandLine({argv + 1, argv + argc});
  } catch (const chipctl::UsageError& e) {
    std::fprintf(stderr, "chipctl: %s\n%s", e.what(), chipctl::kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(chipctl::kUsage, stdout);
    return 0;
  }
  findServerBesideMe();
  k52::win32::attach(k52::win32::Prefix::resolve(options.prefix));
  ClientOptions clientOptions;
  clientOptions.transport = options.sharedMemory ? Transport::SharedMemory : Transport::CopyData;
  int status;
  {
    Client client(clientOptions);
    status = chipctl::run(options, client, stdout, stderr);
  }
  k52::win32::detach();
  return status;
}
