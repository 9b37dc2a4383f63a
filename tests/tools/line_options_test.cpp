// tarvo-poll's port, baud and parity options, and its class names.
#include "tools/plant/line_options.h"

#include "gtest/gtest.h"
#include "tarvo/guids.h"
#include "tools/plant/driver_classes.h"

namespace tarvo::tools {
namespace {

struct PortCase {
  const char* text;
  std::optional<int32_t> port;  // nothing: refused
  const char* device;
};

TEST(LineOptions, PortsAreComNumbersOrDevicePaths) {
  const PortCase cases[] = {
      {"COM3", 3, ""},
      {"com12", 12, ""},
      {"7", 7, ""},
      {"255", 255, ""},
      {"COM1", 1, ""},
      {"/dev/ttyUSB0", kMappedPort, "/dev/ttyUSB0"},
      {"./pty", kMappedPort, "./pty"},
      {"0", std::nullopt, ""},
      {"256", std::nullopt, ""},
      {"COM", std::nullopt, ""},
      {"COM3x", std::nullopt, ""},
      {"ttyUSB0", std::nullopt, ""},
      {"", std::nullopt, ""},
      {"-3", std::nullopt, ""},
  };
  for (const PortCase& c : cases) {
    std::string error;
    const std::optional<PortChoice> choice = ParsePort(c.text, &error);
    ASSERT_EQ(choice.has_value(), c.port.has_value()) << c.text;
    if (!choice) {
      EXPECT_EQ(error, std::string("port \"") + c.text +
                           "\": expected COMn or a port number 1..255 (COMn opens "
                           "/dev/ttyS{n-1}), or a device path such as /dev/ttyUSB0");
      continue;
    }
    EXPECT_EQ(choice->portNumber, *c.port) << c.text;
    EXPECT_EQ(choice->device, c.device) << c.text;
  }
}

TEST(LineOptions, BaudRatesAreTheLibrarysTable) {
  const std::pair<int32_t, std::optional<uint32_t>> cases[] = {
      {110, 0},
      {9600, 6},
      {14400, 7},
      {56000, 10},
      {115200, 12},
      {256000, 14},
      {0, std::nullopt},
      {9601, std::nullopt},
      {230400, std::nullopt},
  };
  for (const auto& [baud, code] : cases) EXPECT_EQ(BaudCode(baud), code) << baud;
}

TEST(LineOptions, ParityNamesAndLetters) {
  const std::pair<const char*, std::optional<int16_t>> cases[] = {
      {"odd", 0},          {"even", 1},        {"none", 2}, {"mark", 3},
      {"space", 4},        {"N", 2},           {"e", 1},    {"Even", 1},
      {"x", std::nullopt}, {"", std::nullopt}, {"nonE", 2}, {"od", std::nullopt},
  };
  for (const auto& [name, code] : cases) EXPECT_EQ(ParityCode(name), code) << name;
  EXPECT_EQ(ParityLetter(2), 'N');
  EXPECT_EQ(ParityLetter(0), 'O');
  EXPECT_EQ(ParityLetter(9), '?');
}

TEST(DriverClasses, FoundByFamilyClassNameOrProgIdInAnyCase) {
  const std::pair<const char*, const CLSID*> cases[] = {
      {"pxr5100", &CLSID_Cpxr5100},
      {"CPXR5100", &CLSID_Cpxr5100},
      {"tarvo.PXR5100", &CLSID_Cpxr5100},
      {"pxr5303", &CLSID_CPxr5303},
      {"Tarvo.CPxr5303", &CLSID_CPxr5303},
      {"pxr530x", &CLSID_CPxr530x},
      {"Tarvo.Pxr530x", &CLSID_CPxr530x},
      {"Cpxr5700", &CLSID_Cpxr5700},
      {"Tarvo.Pxr5760", &CLSID_CPxr5760},
      {"pxr57", nullptr},
      {"Tarvo.", nullptr},
      {"", nullptr},
  };
  for (const auto& [name, clsid] : cases) {
    const DriverClass* found = FindDriverClass(name);
    ASSERT_EQ(found != nullptr, clsid != nullptr) << name;
    if (found != nullptr) {
      EXPECT_TRUE(*found->clsid == *clsid) << name;
    }
  }
}

}  // namespace
}  // namespace tarvo::tools
