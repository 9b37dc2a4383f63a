// tarvo-poll run as a user runs it, where it must refuse: usage errors, a
// library or class it cannot use, a port it cannot open, items the driver
// refuses. Each case: the exact message and exit status 2.
#include <string>
#include <vector>

#include "gtest/gtest.h"
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

// A plant file of tarvo-gateway: tarvo-poll polls one of its lines.
constexpr const char* kTwoLines =
    "mqtt: {host: localhost}\n"
    "lines:\n"
    "  - {line: boiler, port: COM1, classes: [{class: pxr5700, items: [{item: DI4.0}]}]}\n"
    "  - {line: hall, port: COM2, classes: [{class: pxr5100, items: [{item: TA1.0.0}]}]}\n";

TEST(TarvoPollCli, UsageErrors) {
  const TempDir dir;
  const CliCase cases[] = {
      {"plant file: a key twice",
       {"-p", "COM1", "--plant",
        dir.Write("twice.yaml",
                  "classes:\n  - class: pxr5100   # boiler\n    items: [{item: TA1.0.0}]\n"
                  "    items: []\n")},
       2,
       "tarvo-poll: " + dir.path() +
           "/twice.yaml:4:5: classes[0].items: the object gives this key twice\n"},
      {"plant file: an item that is not a text",
       {"-p", "COM1", "--plant",
        dir.Write("number.yaml", "classes:\n  - {class: pxr5100, items: [{item: 5}]}\n")},
       2,
       "tarvo-poll: " + dir.path() +
           "/number.yaml:2:31: classes[0].items[0].item: expected a text \"...\", found a "
           "number\n"},
      {"plant file: not YAML",
       {"-p", "COM1", "--plant", dir.Write("cut.yaml", "classes: [\n  {class: pxr5100}\n")},
       2,
       "tarvo-poll: " + dir.path() +
           "/cut.yaml:3:1: not valid YAML: end of sequence flow not found\n"},
      {"plant file that cannot be read",
       {"-p", "COM1", "--plant", dir.path() + "/none.yaml"},
       2,
       "tarvo-poll: cannot read the plant file " + dir.path() +
           "/none.yaml: No such file or directory\n"},
      {"plant file that is a folder",
       {"-p", "COM1", "--plant", dir.path()},
       2,
       "tarvo-poll: cannot read the plant file " + dir.path() + ": Is a directory\n"},
      {"no class",
       {},
       2,
       "tarvo-poll: give CLASS and the ITEMs to read, or --plant FILE, or --list\n" +
           std::string(kSeeHelp)},
      {"no item",
       {"-p", "COM1", "pxr5100", "TA1.0.0", "--", "pxr5700"},
       2,
       "tarvo-poll: give at least one ITEM of pxr5700 to read, or --write ITEM=VALUE\n" +
           std::string(kSeeHelp)},
      {"options belong before the first --",
       {"-p", "COM1", "pxr5100", "TA1.0.0", "--", "pxr5700", "DI4.0", "-t", "100"},
       2,
       "tarvo-poll: after \"--\": The following argument was not expected: -t; a class group is "
       "CLASS ITEM... and its --write options, the other options go before the first \"--\"\n" +
           std::string(kSeeHelp)},
      {"-1 belongs before the first -- too",
       {"-p", "COM1", "pxr5100", "TA1.0.0", "--", "pxr5700", "DI4.0", "-1"},
       2,
       "tarvo-poll: after \"--\": The following argument was not expected: -1; a class group is "
       "CLASS ITEM... and its --write options, the other options go before the first \"--\"\n" +
           std::string(kSeeHelp)},
      {"--line without a plant file",
       {"-p", "COM1", "--line", "boiler", "pxr5100", "TA1.0.0"},
       2,
       "tarvo-poll: --line NAME picks a line of a plant file: give --plant FILE\n" +
           std::string(kSeeHelp)},
      {"a gateway plant of two lines, none chosen",
       {"--plant", dir.Write("two.yaml", kTwoLines)},
       2,
       "tarvo-poll: " + dir.path() +
           "/two.yaml has 2 lines (boiler, hall): choose one with --line "
           "NAME\n"},
      {"a line the gateway plant does not have",
       {"--plant", dir.path() + "/two.yaml", "--line", "attic"},
       2,
       "tarvo-poll: " + dir.path() + "/two.yaml has no line \"attic\"; its lines: boiler, hall\n"},
      {"a plant file of tarvo-poll names no port",
       {"--plant",
        dir.Write("classes.yaml", "classes: [{class: pxr5100, items: [{item: TA1.0.0}]}]\n")},
       2,
       "tarvo-poll: give the serial port with -p (COMn, a number or a device path)\n" +
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
      {"a character device that is no serial line",
       {"--library", kLibrary, "-p", "/dev/null", "pxr5100", "TA1.0.0"},
       2,
       "tarvo-poll: cannot open COM255 = /dev/null at 9600 8N1: 串行通信端口状态错误！ (serial "
       "port state error, code 13): /dev/null is not a serial device\n"},
      {"a regular file",
       {"--library", kLibrary, "-p", kLibrary, "pxr5100", "TA1.0.0"},
       2,
       "tarvo-poll: cannot open COM255 = " + kLibrary +
           " at 9600 8N1: 串行通信端口状态错误！ (serial port state error, code 13): " + kLibrary +
           " is a regular file, not a serial device\n"},
      {"device that does not exist",
       {"--library", kLibrary, "-p", "/nonexistent/tty", "-b", "19200", "--parity", "even",
        "pxr5100", "TA1.0.0"},
       2,
       "tarvo-poll: cannot open COM255 = /nonexistent/tty at 19200 8E1: 无法建立串行通信端口！ "
       "(cannot open the serial port, code 10): /nonexistent/tty does not exist (is the adapter "
       "plugged in? dmesg names the device it got)\n"},
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

TEST(TarvoPollCli, ListsTheClassesWithoutOne) {
  Check({"--list alone",
         {"--list"},
         0,
         "",
         "The classes (tarvo-poll --list CLASS shows one):\n"
         "  pxr5100  Cpxr5100  Tarvo.pxr5100\n"
         "  pxr5303  CPxr5303  Tarvo.CPxr5303\n"
         "  pxr530x  CPxr530x  Tarvo.Pxr530x\n"
         "  pxr5700  Cpxr5700  Tarvo.pxr5700\n"
         "  pxr5760  CPxr5760  Tarvo.Pxr5760\n"});
}

// Each address the driver refuses, or accepts as another text or with a
// number no read can use: one row per address, all refused before the port
// is opened (the port does not exist).
TEST(TarvoPollCli, ItemsTheDriverRefusesOrReadsAsAnotherTextAreAllReportedFirst) {
  struct Row {
    const char* address;
    const char* message;
  };
  const std::pair<const char*, std::vector<Row>> classes[] = {
      {"pxr5100",
       {{"TA1.0.0.5", "read as TA1.0.0; the \".5\" is ignored by the driver"},
        {"WM1.0.1x", "read as WM1.0.1; the \"x\" after point 1 is ignored by the driver"},
        {"TA1..0", "read as TA1.0.0; the channel is empty: the driver reads 0"},
        {"TA1234.0.0",
         "read as TA123.0.0; only the first digits of module 1234 count: the driver reads 123"},
        {"TA01.0.0", "read as TA1.0.0; module 01 is read as 1"},
        {"TA1.8.0",
         "channel 8 is outside 0..7; the driver refuses it with 错误的通道号 (wrong channel "
         "number, code 4 or 19)"},
        {"TX1.0.0",
         "\"TX\" is not a register of pxr5100 (TA, TB, WA, WB, UA, UB, WM); the driver refuses "
         "it with 不支持该寄存器 (register not supported, code 1)"},
        {"TA128.0.0",
         "module 128 is outside 0..127; the driver refuses it with 错误的模块地址 (wrong module "
         "address, code 18)"},
        {"TA1.0",
         "the point is missing: TA items read TA MODULE.CHANNEL.POINT; the driver refuses it "
         "with 错误的寄存器名 (wrong register name, code 21)"}}},
      {"pxr5700",
       {{"DI4.x", "read as DI4.0; the channel \"x\" is not a number: the driver reads 0"},
        {"TA4.3",
         "channel 3 is outside 1..2; the driver refuses it with 错误的通道号 (wrong channel "
         "number, code 4 or 19)"}}},
      {"pxr5760",
       {{"AD5.0.40.2",
         "point 40 is outside 0..31: the driver accepts the address, no read can use it"},
        {"DI5.0.1.9", "bit 9 is outside 0..7: the driver accepts the address, no read can use it"},
        {"LT5.0.1.2.3", "read as LT5.0.1.2; the \".3\" is ignored by the driver"}}},
  };
  std::vector<std::string> args{"--library",        kLibrary,  "-p",
                                "/nonexistent/tty", "--write", "TA1.0.0=1"};
  std::string err = "tarvo-poll: TA1.0.0=1: register TA cannot be written (read only)\n";
  for (const auto& [family, rows] : classes) {
    if (args.size() > 6) args.push_back("--");
    args.push_back(family);
    for (const Row& row : rows) {
      args.push_back(row.address);
      err += std::string("tarvo-poll: ") + row.address + ": " + row.message + "\n";
    }
    err += std::string("tarvo-poll: see tarvo-poll --list ") + family + " for the item addresses\n";
  }
  Check({"bad items", args, 2, err});
  // --lenient leaves them to the driver: the run gets to the port.
  const RunResult lenient = RunProgram({kPoll, "--library", kLibrary, "-p", "/nonexistent/tty",
                                        "--lenient", "pxr5100", "TA1.0.0.5"});
  EXPECT_EQ(lenient.status, 2);
  EXPECT_EQ(lenient.err.rfind("tarvo-poll: cannot open COM255 = /nonexistent/tty", 0), 0u)
      << lenient.err;
}

}  // namespace
}  // namespace tarvo::test
