// tarvo-poll run as a user runs it, where it must refuse: usage errors, a
// library or class it cannot use, a port it cannot open, items the driver
// refuses. Each case: the exact message and exit status 2.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sim/pty_pair.h"
#include "support/process.h"

namespace tarvo::test {
namespace {

const std::string kPoll = TARVO_POLL_PATH;
const std::string kLibrary = TARVO_LIBRARY_PATH;
const std::string kFakeLibrary = TARVO_FAKE_LIBRARY_PATH;
constexpr const char* kSeeHelp = "Run tarvo-poll --help for the options.\n";

struct CliCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string err;
  std::string out = "";
};

void Check(const CliCase& c) {
  std::vector<std::string> argv{kPoll};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  const RunResult result = RunProgram(argv);
  EXPECT_EQ(result.status, c.status) << c.name;
  EXPECT_EQ(result.err, c.err) << c.name;
  EXPECT_EQ(result.out, c.out) << c.name;
}

TEST(TarvoPollCli, UsageErrors) {
  const CliCase cases[] = {
      {"no class", {}, 2, "tarvo-poll: CLASS is required\n" + std::string(kSeeHelp)},
      {"no item",
       {"-p", "COM1", "pxr5100"},
       2,
       "tarvo-poll: give at least one ITEM to read, --write ITEM=VALUE, or --list\n" +
           std::string(kSeeHelp)},
      {"no port",
       {"pxr5100", "TA1.0.0"},
       2,
       "tarvo-poll: give the serial port with -p (COMn, a number or a device path)\n" +
           std::string(kSeeHelp)},
      {"baud not in the table",
       {"-p", "COM1", "-b", "9601", "pxr5100", "TA1.0.0"},
       2,
       "tarvo-poll: baud rate 9601 is not one of 110, 300, 600, 1200, 2400, 4800, 9600, 14400, "
       "19200, 38400, 56000, 57600, 115200, 128000, 256000\n" +
           std::string(kSeeHelp)},
      {"parity",
       {"-p", "COM1", "--parity", "odd-ish", "pxr5100", "TA1.0.0"},
       2,
       "tarvo-poll: parity \"odd-ish\" is not one of none, even, odd, mark, space\n" +
           std::string(kSeeHelp)},
      {"time-out out of range",
       {"-p", "COM1", "-t", "50", "pxr5100", "TA1.0.0"},
       2,
       "tarvo-poll: --timeout: Value 50 not in range 100 to 2000\n" + std::string(kSeeHelp)},
      {"write without a value",
       {"-p", "COM1", "--write", "DO1.2", "pxr5700"},
       2,
       "tarvo-poll: --write \"DO1.2\": expected ITEM=VALUE, e.g. DO5.3=1\n" +
           std::string(kSeeHelp)},
      {"a write takes one word: the class and items follow it",
       {"--write", "DO1.2=1", "pxr9999", "DI1.0", "-p", "COM1"},
       2,
       "tarvo-poll: unknown class \"pxr9999\"; the classes are:\n"
       "  pxr5100  Cpxr5100  Tarvo.pxr5100\n"
       "  pxr5303  CPxr5303  Tarvo.CPxr5303\n"
       "  pxr530x  CPxr530x  Tarvo.Pxr530x\n"
       "  pxr5700  Cpxr5700  Tarvo.pxr5700\n"
       "  pxr5760  CPxr5760  Tarvo.Pxr5760\n"},
      {"-1 and -n",
       {"-p", "COM1", "-1", "-n", "3", "pxr5100", "TA1.0.0"},
       2,
       "tarvo-poll: --count excludes -1\n" + std::string(kSeeHelp)},
      {"unknown class",
       {"-p", "COM1", "pxr9999", "TA1.0.0"},
       2,
       "tarvo-poll: unknown class \"pxr9999\"; the classes are:\n"
       "  pxr5100  Cpxr5100  Tarvo.pxr5100\n"
       "  pxr5303  CPxr5303  Tarvo.CPxr5303\n"
       "  pxr530x  CPxr530x  Tarvo.Pxr530x\n"
       "  pxr5700  Cpxr5700  Tarvo.pxr5700\n"
       "  pxr5760  CPxr5760  Tarvo.Pxr5760\n"},
      {"bad port",
       {"-p", "COMX", "--library", kLibrary, "pxr5100", "TA1.0.0"},
       2,
       "tarvo-poll: port \"COMX\": expected COMn or a port number 1..255 (COMn opens "
       "/dev/ttyS{n-1}), or a device path such as /dev/ttyUSB0\n"},
  };
  for (const CliCase& c : cases) Check(c);
}

TEST(TarvoPollCli, LibraryClassAndPortItCannotUse) {
  const CliCase cases[] = {
      {"no library",
       {"--library", "/nonexistent/libtarvo.so", "--list", "pxr5100"},
       2,
       "tarvo-poll: cannot use the library /nonexistent/libtarvo.so: /nonexistent/libtarvo.so: "
       "cannot open shared object file: No such file or directory\n"},
      {"not the driver library",
       {"--library", "libm.so.6", "--list", "pxr5100"},
       2,
       "tarvo-poll: cannot use the library libm.so.6: the library has no entry point "
       "DllGetClassObject\n"},
      {"class not offered",
       {"--library", kFakeLibrary, "--list", "Tarvo.pxr5700"},
       2,
       "tarvo-poll: the library " + kFakeLibrary + " does not offer Cpxr5700 (Tarvo.pxr5700)\n"},
      {"device that does not exist",
       {"--library", kLibrary, "-p", "/nonexistent/tty", "-b", "19200", "--parity", "even",
        "pxr5100", "TA1.0.0"},
       2,
       "tarvo-poll: cannot open COM255 = /nonexistent/tty at 19200 8E1: 无法建立串行通信端口！ "
       "(cannot open the serial port, code 10)\n"},
  };
  for (const CliCase& c : cases) Check(c);
}

TEST(TarvoPollCli, ListsTheRegisterTableTheObjectHandsOut) {
  Check({"--list",
         {"--library", kLibrary, "--list", "pxr5100"},
         0,
         "",
         "Cpxr5100 (Tarvo.pxr5100), 7 registers\n"
         "  INDEX  NAME  ACCESS      TYPE\n"
         "      1  TA    read        float\n"
         "      2  TB    read        float\n"
         "      3  WA    read        float\n"
         "      4  WB    read        float\n"
         "      5  UA    read        float\n"
         "      6  UB    read        float\n"
         "      7  WM    read        float\n"
         "Item addresses:\n"
         "  NAME MODULE.CHANNEL.POINT, e.g. TA5.1.2: register TA of module 5, channel 1, point 2\n"
         "  module 0..127, channel 0..7, point 0..63; the name in any case\n"});
}

TEST(TarvoPollCli, ItemsTheDriverRefusesAreAllReportedBeforeAnyPoll) {
  sim::PtyPair pty;  // a line nobody answers: no poll may reach it
  Check({"bad items",
         {"--library", kLibrary, "-p", pty.slavePath(), "-t", "100", "pxr5100", "TA1.0.0",
          "TA1.8.0", "TX1.0.0", "TA128.0.0", "TA1.0", "--write", "TA1.0.0=1"},
         2,
         "tarvo-poll: TA1.0.0=1: register TA cannot be written (read only)\n"
         "tarvo-poll: TA1.8.0: 错误的通道号 (wrong channel number, code 4 or 19)\n"
         "tarvo-poll: TX1.0.0: 不支持该寄存器 (register not supported, code 1)\n"
         "tarvo-poll: TA128.0.0: 错误的模块地址 (wrong module address, code 18)\n"
         "tarvo-poll: TA1.0: 错误的寄存器名 (wrong register name, code 21)\n"
         "tarvo-poll: see tarvo-poll --list pxr5100 for the item addresses\n"});
}

}  // namespace
}  // namespace tarvo::test
