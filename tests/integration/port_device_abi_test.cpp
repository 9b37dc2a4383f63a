// TarvoSetPortDevice as a host reaches it: through the loaded library.
#include <cstring>

#include "driver/error_text.h"
#include "gtest/gtest.h"
#include "sim/pty_pair.h"
#include "support/host_port.h"
#include "tarvo/tarvo.h"
#include "tools/common/driver_library.h"

namespace {

class PortDeviceAbi : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library_.ok()) << library_.error(); }
  int32_t setPortDevice_(int32_t port, const char* path) {
    return library_.SetPortDevice(port, path);
  }
  tarvo::IIoDriver* NewDriver() { return library_.Create(tarvo::CLSID_Cpxr5100); }

  tarvo::tools::DriverLibrary library_{TARVO_LIBRARY_PATH};
};

TEST_F(PortDeviceAbi, MapsPortNumbersOneTo255) {
  struct Case {
    int32_t port;
    const char* path;
    int32_t result;
  };
  const Case cases[] = {
      {0, "/dev/null", 0}, {-1, "/dev/null", 0},  {256, "/dev/null", 0},
      {1, "/dev/null", 1}, {255, "/dev/null", 1}, {255, nullptr, 1},
      {1, "", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(setPortDevice_(c.port, c.path), c.result) << c.port;
}

TEST_F(PortDeviceAbi, AMappedPortOpensThatDevice) {
  tarvo::sim::PtyPair pty;
  ASSERT_EQ(setPortDevice_(12, pty.slavePath().c_str()), 1);
  tarvo::test::HostPort port(12, "300");
  tarvo::PortConfig& config = port.config;

  tarvo::IIoDriver* first = NewDriver();
  tarvo::IIoDriver* second = NewDriver();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(first->OpenPort(&config), 1) << first->GetErrorText();
  const HANDLE shared = config.SharedHandle;
  EXPECT_NE(shared, nullptr);
  EXPECT_EQ(second->OpenPort(&config), 1);
  EXPECT_EQ(config.SharedHandle, shared);
  EXPECT_EQ(first->ClosePort(0), 1);
  EXPECT_EQ(second->ClosePort(0), 1);

  // A path that does not exist: the port cannot be created.
  ASSERT_EQ(setPortDevice_(12, "/nonexistent/ttyX"), 1);
  config.SharedHandle = nullptr;
  EXPECT_EQ(first->OpenPort(&config), 0);
  EXPECT_STREQ(first->GetErrorText(), tarvo::ErrorText(tarvo::ErrCreatePort));
  EXPECT_EQ(config.SharedHandle, nullptr);
  // The library closed the line: the old value opens the device afresh.
  ASSERT_EQ(setPortDevice_(12, pty.slavePath().c_str()), 1);
  config.SharedHandle = shared;
  EXPECT_EQ(first->OpenPort(&config), 1);
  EXPECT_NE(config.SharedHandle, shared);
  EXPECT_EQ(first->ClosePort(0), 1);

  EXPECT_EQ(setPortDevice_(12, nullptr), 1);
  EXPECT_EQ(first->Release(), 0u);
  EXPECT_EQ(second->Release(), 0u);
}

}  // namespace
