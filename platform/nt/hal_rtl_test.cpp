// Port I/O through the bus, and registry queries against a prefix's hive.
#include <gtest/gtest.h>

#include <map>

#include "platform/nt/ntddk.h"
#include "platform/nt/test_kernel.h"
#include "platform/win32/test_temp_dir.h"

namespace k52::nt {
namespace {

class Latch : public PortDevice {
 public:
  std::uint8_t readPort(std::uint16_t port) override { return values[port]; }
  void writePort(std::uint16_t port, std::uint8_t value) override { values[port] = value; }
  std::map<std::uint16_t, std::uint8_t> values;
};

PUCHAR translate(ULONG port) {
  PHYSICAL_ADDRESS bus;
  bus.QuadPart = port;
  ULONG space = 1;
  PHYSICAL_ADDRESS translated;
  if (!HalTranslateBusAddress(Isa, 0, bus, &space, &translated) || space != 1) return nullptr;
  return reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(translated.QuadPart));
}

TEST(HalTest, PortsReachTheMappedDeviceOnly) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  Latch latch;
  kernel.bus().map(0x60, 5, latch);
  WRITE_PORT_UCHAR(translate(0x64), 0xAB);
  EXPECT_EQ(latch.values[0x64], 0xAB);
  EXPECT_EQ(READ_PORT_UCHAR(translate(0x64)), 0xAB);
  EXPECT_EQ(READ_PORT_UCHAR(translate(0x65)), 0xFF);
  WRITE_PORT_UCHAR(translate(0x5F), 1);
  EXPECT_EQ(latch.values.count(0x5F), 0u);
  EXPECT_THROW(kernel.bus().map(0x64, 2, latch), std::invalid_argument);
  EXPECT_THROW(kernel.bus().map(0xFFFF, 2, latch), std::invalid_argument);
  EXPECT_TRUE(kernel.bus().unmap(0x60));
  EXPECT_EQ(READ_PORT_UCHAR(translate(0x64)), 0xFF);
}

TEST(HalTest, TranslationFailsWhereToldAndOutsideIoSpace) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  EXPECT_NE(translate(0x60), nullptr);
  kernel.bus().failTranslation(0x60);
  EXPECT_EQ(translate(0x60), nullptr);
  EXPECT_NE(translate(0x64), nullptr);
  kernel.bus().failTranslation(0x60, false);
  EXPECT_NE(translate(0x60), nullptr);
  EXPECT_EQ(translate(0x10000), nullptr);
  PHYSICAL_ADDRESS bus;
  bus.QuadPart = 0x60;
  ULONG memorySpace = 0;
  PHYSICAL_ADDRESS translated;
  EXPECT_FALSE(HalTranslateBusAddress(Isa, 0, bus, &memorySpace, &translated));
}

class RegistryQueryTest : public ::testing::Test {
 protected:
  RegistryQueryTest() {
    win32::Registry(win32::Prefix(dir_.path()))
        .import(
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\vrlPCSC\\Parameters]\n"
            "\"LEDTimeoutmsecs\"=dword:00000032\n"
            "\"Text\"=\"abc\"\n");
  }

  // Queries one REG_DWORD value the way drivers do, with a default of 7.
  NTSTATUS query(ULONG relativeTo, const wchar_t* path, const wchar_t* name, ULONG* value,
                 ULONG flags = 0) {
    const ULONG fallback = 7;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT | flags;
    table[0].Name = const_cast<PWSTR>(name);
    table[0].EntryContext = value;
    table[0].DefaultType = REG_DWORD;
    table[0].DefaultData = const_cast<ULONG*>(&fallback);
    table[0].DefaultLength = sizeof(ULONG);
    return RtlQueryRegistryValues(relativeTo, path, table, nullptr, nullptr);
  }

  win32::TempDir dir_;
  Kernel kernel_{std::make_unique<VirtualScheduler>(1), win32::Prefix(dir_.path())};
};

TEST_F(RegistryQueryTest, DwordValuesAndDefaults) {
  const wchar_t* absolute =
      L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\vrlPCSC\\Parameters";
  struct Case {
    ULONG relativeTo;
    const wchar_t* path;
    const wchar_t* name;
    ULONG flags;
    NTSTATUS status;
    ULONG value;
  } cases[] = {
      {RTL_REGISTRY_ABSOLUTE, absolute, L"LEDTimeoutmsecs", 0, STATUS_SUCCESS, 50},
      {RTL_REGISTRY_ABSOLUTE,
       L"\\REGISTRY\\MACHINE\\System\\CurrentControlSet\\Services\\"
       L"vrlPCSC\\Parameters",
       L"ledtimeoutmsecs", 0, STATUS_SUCCESS, 50},
      {RTL_REGISTRY_SERVICES, L"vrlPCSC\\Parameters", L"LEDTimeoutmsecs", 0, STATUS_SUCCESS, 50},
      {RTL_REGISTRY_ABSOLUTE, absolute, L"KeyboardCWT", 0, STATUS_SUCCESS, 7},
      {RTL_REGISTRY_ABSOLUTE, absolute, L"Text", 0, STATUS_SUCCESS, 7},
      {RTL_REGISTRY_ABSOLUTE, absolute, L"KeyboardCWT", RTL_QUERY_REGISTRY_REQUIRED,
       STATUS_OBJECT_NAME_NOT_FOUND, 99},
      {RTL_REGISTRY_SERVICES, L"absent\\Parameters", L"LEDTimeoutmsecs", 0,
       STATUS_OBJECT_NAME_NOT_FOUND, 99},
      {RTL_REGISTRY_ABSOLUTE, L"\\Registry\\User\\x", L"LEDTimeoutmsecs", 0,
       STATUS_INVALID_PARAMETER, 99},
  };
  for (const auto& c : cases) {
    ULONG value = 99;
    EXPECT_EQ(query(c.relativeTo, c.path, c.name, &value, c.flags), c.status) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
}

TEST_F(RegistryQueryTest, StringValueIntoACallerBuffer) {
  WCHAR buffer[8];
  UNICODE_STRING text{0, sizeof(buffer), buffer};
  RTL_QUERY_REGISTRY_TABLE table[2] = {};
  table[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
  table[0].Name = const_cast<PWSTR>(L"Text");
  table[0].EntryContext = &text;
  ASSERT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"vrlPCSC\\Parameters", table, nullptr,
                                   nullptr),
            STATUS_SUCCESS);
  UNICODE_STRING expected;
  RtlInitUnicodeString(&expected, L"ABC");
  EXPECT_TRUE(RtlEqualUnicodeString(&text, &expected, TRUE));
  EXPECT_FALSE(RtlEqualUnicodeString(&text, &expected, FALSE));
  WCHAR tiny[2];
  UNICODE_STRING small{0, sizeof(tiny), tiny};
  table[0].EntryContext = &small;
  EXPECT_EQ(RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"vrlPCSC\\Parameters", table, nullptr,
                                   nullptr),
            STATUS_BUFFER_TOO_SMALL);
}

TEST(KernelTest, DriverEntryGetsItsServiceKeyPath) {
  Kernel kernel(std::make_unique<VirtualScheduler>(1));
  static std::wstring seen;
  PDRIVER_OBJECT driver = nullptr;
  EXPECT_EQ(kernel.loadDriver(
                L"vrlPCSC",
                [](PDRIVER_OBJECT, PUNICODE_STRING path) -> NTSTATUS {
                  seen.assign(path->Buffer, path->Length / sizeof(WCHAR));
                  return STATUS_SUCCESS;
                },
                std::nullopt, &driver),
            STATUS_SUCCESS);
  EXPECT_EQ(seen, L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\vrlPCSC");
  ASSERT_NE(driver, nullptr);
  EXPECT_FALSE(kernel.unloadDriver(L"vrlPCSC"));  // no unload routine
  EXPECT_THROW(Kernel(std::make_unique<VirtualScheduler>(2)), std::logic_error);
}

}  // namespace
}  // namespace k52::nt
