#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "platform/win32/test_temp_dir.h"

extern char** environ;

namespace k52 {
namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class K52reg : public ::testing::Test {
 protected:
  // Runs the built binary with `args`, feeding it `input`.
  Result run(std::vector<std::string> args, const std::string& input = "") {
    const auto in = dir_.path() / "stdin", out = dir_.path() / "stdout",
               err = dir_.path() / "stderr";
    std::ofstream(in, std::ios::binary) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    args.insert(args.begin(), K52REG_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Result result;
    if (posix_spawn(&pid, K52REG_PATH, &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = readFile(out);
    result.err = readFile(err);
    return result;
  }

  std::string prefix(const char* name) const { return (dir_.path() / name).string(); }

  win32::TempDir dir_;
};

TEST_F(K52reg, ValuesOfEveryTypeTravelThroughExportAndImport) {
  const std::string a = prefix("a");
  const std::string key = "HKCU\\CTAPIDLL.INI\\OPT";
  ASSERT_EQ(run({"--prefix", a, "set", key, "ReaderName1", "Virtual PCD 00 00"}).status, 0);
  ASSERT_EQ(run({"--prefix", a, "set", key, "@", "C:\\x \"y\""}).status, 0);
  ASSERT_EQ(run({"--prefix", a, "set", "--dword", key, "Port", "0x2a"}).status, 0);
  ASSERT_EQ(run({"--prefix=" + a, "set", key, "Blob", "--hex", "--", "01,ff"}).status, 0);
  ASSERT_EQ(run({"--prefix", a, "set", "HKLM\\Software\\K", "Dash", "--", "-5"}).status, 0);

  const Result exported = run({"--prefix", a, "export"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.out,
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\Software]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\K]\n\"Dash\"=\"-5\"\n\n"
            "[HKEY_CURRENT_USER\\CTAPIDLL.INI]\n\n"
            "[HKEY_CURRENT_USER\\CTAPIDLL.INI\\OPT]\n"
            "@=\"C:\\\\x \\\"y\\\"\"\n"
            "\"Blob\"=hex:01,ff\n"
            "\"Port\"=dword:0000002a\n"
            "\"ReaderName1\"=\"Virtual PCD 00 00\"\n\n");

  const std::string b = prefix("b");
  ASSERT_EQ(run({"--prefix", b, "import", "-"}, exported.out).status, 0);
  const std::pair<const char*, const char*> expected[] = {
      {"readername1", "Virtual PCD 00 00\n"},
      {"@", "C:\\x \"y\"\n"},
      {"Port", "42\n"},
      {"Blob", "01,ff\n"},
  };
  for (const auto& [name, text] : expected) {
    const Result got = run({"--prefix", b, "get", "hkcu\\ctapidll.ini\\opt", name});
    EXPECT_EQ(got.status, 0) << name << ": " << got.err;
    EXPECT_EQ(got.out, text) << name;
  }
  EXPECT_EQ(run({"--prefix", b, "export", "HKLM\\software\\k"}).out,
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\K]\n\"Dash\"=\"-5\"\n\n");

  EXPECT_EQ(run({"--prefix", b, "delete", key, "Port"}).status, 0);
  EXPECT_EQ(run({"--prefix", b, "get", key, "Port"}).status, 1);
  EXPECT_EQ(run({"--prefix", b, "delete", "HKCU\\CTAPIDLL.INI"}).status, 0);
  EXPECT_EQ(run({"--prefix", b, "get", key, "ReaderName1"}).status, 1);
}

TEST_F(K52reg, BadInputFailsWithAMessage) {
  const std::string p = prefix("p");
  ASSERT_EQ(run({"--prefix", p, "set", "HKCU\\K", "v", "x"}).status, 0);
  const std::string before = readFile(std::filesystem::path(p) / "user.reg");
  std::ofstream(dir_.path() / "bad.reg") << "REGEDIT4\n\n[HKCU\\K]\n\"v\"=dword:nope\n";
  const std::string badFile = (dir_.path() / "bad.reg").string();

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{"get", "HKCU\\K", "missing"}, 1, "no value missing in HKCU\\K"},
      {{"delete", "HKCU\\K", "missing"}, 1, "no value missing"},
      {{"delete", "HKCU\\Nope"}, 1, "no key HKCU\\Nope"},
      {{"export", "HKCU\\Nope"}, 1, "no key HKCU\\Nope"},
      {{"import", badFile}, 1, "cannot import " + badFile + ": line 4"},
      {{"import", badFile + ".missing"}, 1, "cannot read"},
      {{"get", "HKCR\\K", "v"}, 2, "'HKCR\\K' is not a key below HKLM\\ or HKCU\\"},
      {{"get", "HKCU\\K"}, 2, "usage: k52reg get KEY NAME"},
      {{"set", "--dword", "HKCU\\K", "v", "4294967296"}, 2, "--dword needs a number"},
      {{"set", "--hex", "HKCU\\K", "v", "1,zz"}, 2, "--hex needs bytes"},
      {{"set", "HKCU\\K\\\\x", "v", "x"}, 2, "invalid key name"},
      {{"get", "--dword", "HKCU\\K", "v"}, 2, "unknown option --dword for get"},
      {{"set", "--prefix", p, "HKCU\\K", "v", "x"}, 2, "unknown option --prefix"},
      {{"delete", "HKCU"}, 2, "a root key cannot be deleted"},
      {{"frobnicate"}, 2, "unknown command frobnicate"},
      {{}, 2, "no command given"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--prefix", p};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result result = run(args);
    SCOPED_TRACE(c.message);
    EXPECT_EQ(result.status, c.status);
    EXPECT_NE(result.err.find("k52reg: " + c.message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(readFile(std::filesystem::path(p) / "user.reg"), before);
  EXPECT_EQ(run({"--prefix", p, "get", "HKCU\\K", "v"}).out, "x\n");
}

TEST_F(K52reg, HelpDescribesTheCommands) {
  const Result help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* command : {"set", "get", "delete", "import", "export", "--prefix"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
}

}  // namespace
}  // namespace k52
