// tarvo-poll against pxrsim over a pseudo-terminal, both run as programs:
// one run per family reading known values, the simulator's faults and
// logs, Ctrl-C statistics, and the simulator's own refusals.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "gtest/gtest.h"
#include "sim/pty_pair.h"
#include "support/process.h"

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;

const std::string kPoll = TARVO_POLL_PATH;
const std::string kSim = PXRSIM_PATH;

// pxrsim serving a plant for one test; stopped with SIGTERM at the end,
// which must leave no link behind.
class Simulator {
 public:
  Simulator(const TempDir& dir, std::string_view plant, std::vector<std::string> options = {})
      : link_(dir.path() + "/pxr") {
    std::vector<std::string> argv{kSim, "--plant", dir.Write("plant.json", plant), "--link", link_};
    argv.insert(argv.end(), options.begin(), options.end());
    process_.emplace(argv);
    started_ = process_->WaitForOutput("pxrsim: serving on " + link_, 10s);
  }
  ~Simulator() {
    process_->Signal(SIGTERM);
    EXPECT_EQ(process_->Wait(10s), 0) << process_->err();
    struct stat status {};
    EXPECT_NE(lstat(link_.c_str(), &status), 0) << "the link is left";
    EXPECT_NE(process_->out().find("pxrsim: stopped\n"), std::string::npos);
  }
  bool started() const { return started_; }
  const std::string& link() const { return link_; }
  Process& process() { return *process_; }

 private:
  std::string link_;
  std::optional<Process> process_;
  bool started_ = false;
};

std::string Plant(std::string_view module) {
  return "{\"modules\": [" + std::string(module) + "]}";
}

struct Expected {
  std::string item;
  double value;
  double tolerance;
};

// One row per family: a module of constant values in the plant, the items
// tarvo-poll reads (after the writes, which go out on the first poll), the
// number of polls, and what the last poll must show.
struct FamilyRun {
  const char* family;
  const char* module;
  std::vector<std::string> reads;
  std::vector<std::string> writes;
  int polls;
  std::vector<Expected> expected;
};

const FamilyRun kFamilyRuns[] = {
    {"pxr5100",
     R"({"family": "pxr5100", "address": 12, "channels": [{"channel": 1, "points": [
         {"point": 0, "ta": 23.5}, {"point": 3, "tb": -10.125, "ua": 18.25},
         {"point": 7, "wa": 21.5, "wb": 46.7}, {"point": 9, "ub": 12.5},
         {"point": 63, "wm": 123.45}]}]})",
     {"TA12.1.0", "tb12.1.3", "UA12.1.3", "WA12.1.7", "WB12.1.7", "UB12.1.9", "WM12.1.63"},
     {},
     2,
     {{"TA12.1.0", 23.5, 0},
      {"tb12.1.3", -10.125, 0},
      {"UA12.1.3", 18.25, 0},
      {"WA12.1.7", 21.5, 0},
      {"WB12.1.7", 46.7, 0.2},  // the nearest the converter readings give
      {"UB12.1.9", 12.5, 0},
      {"WM12.1.63", 123.45, 1e-4}}},
    // The module's gate opens 2 whole seconds after the driver object is
    // created: the first poll may find it shut.
    {"pxr5303",
     R"({"family": "pxr5303", "address": 7, "channels": [
         {"channel": 0, "points": [{"point": 0, "ta": 21.5}, {"point": 3, "tb": -1.0625}]},
         {"channel": 2, "points": [{"point": 15, "wa": -18.25, "wb": 60}]}]})",
     {"TA7.0.0", "TB7.0.3", "wa7.2.15", "WB7.2.15"},
     {},
     2,
     {{"TA7.0.0", 21.5, 0}, {"TB7.0.3", -1.0625, 0}, {"wa7.2.15", -18.25, 0}, {"WB7.2.15", 60, 0}}},
    // Every block read waits 10 s: one poll, one block read.
    {"pxr530x",
     R"({"family": "pxr530x", "address": 9, "channels": [
         {"channel": 0, "points": [{"point": 0, "ta": 24.25}]},
         {"channel": 7, "points": [{"point": 63, "wa": 21.5, "wb": 50},
                                   {"point": 2, "tb": -1.0625}]}]})",
     {"TA9.0.0", "TB9.7.2", "WA9.7.63", "WB9.7.63"},
     {},
     1,
     {{"TA9.0.0", 24.25, 0},
      {"TB9.7.2", -1.0625, 0},
      {"WA9.7.63", 21.5, 0},
      {"WB9.7.63", 50, 0.2}}},  // the nearest the converter readings give
    // A write sends all eight outputs: those never read go out as off.
    {"pxr5700",
     R"({"family": "pxr5700", "address": 10, "inputs": 8, "outputs": 3,
         "temperatures": [{"channel": 1, "ta": 38.5}, {"channel": 2, "tb": -1.0625}],
         "numerics": [{"channel": 1, "value": 23.45}, {"channel": 2, "text": "  -1."}]})",
     {"DI10.3", "di10.5", "DO10.7", "DO10.0", "TA10.1", "TB10.2", "WI10.1", "WI10.2"},
     {"DO10.7=1"},
     2,
     {{"DI10.3", 1, 0},
      {"di10.5", 0, 0},
      {"DO10.7", 1, 0},
      {"DO10.0", 0, 0},
      {"TA10.1", 38.5, 0},
      {"TB10.2", -1.0625, 0},
      {"WI10.1", 23.45, 1e-5},
      {"WI10.2", -1, 0}}},
    // The write waits for the gate and uses it, so the first poll may find
    // it shut. The driver builds the point's output byte from the outputs
    // it last saw, none yet: the write sends 01, bit 7 goes off.
    {"pxr5760",
     R"({"family": "pxr5760", "address": 26, "channels": [
         {"channel": 0, "points": [{"point": 0, "ta": 25.0625, "hb": -8}, {"point": 2, "kt": 68}]},
         {"channel": 2, "points": [{"point": 5, "inputs": 8, "outputs": 129}]},
         {"channel": 7, "points": [{"point": 4, "ad": [{"sub_channel": 7, "value": 5}]}]}]})",
     // DI and DO of bit 0 share one fresh value: each poll reads them on
     // two block reads.
     {"TA26.0.0", "HB26.0.0", "KT26.0.2", "AD26.7.4.7", "DI26.2.5.3", "DO26.2.5.0", "DO26.2.5.7",
      "DI26.2.5.0"},
     {"DO26.2.5.0=1"},
     2,
     {{"TA26.0.0", 25.0625, 0},
      {"HB26.0.0", -8, 0},
      {"KT26.0.2", 68, 0},
      {"AD26.7.4.7", 5, 1e-6},
      {"DI26.2.5.3", 1, 0},
      {"DO26.2.5.0", 1, 0},
      {"DO26.2.5.7", 0, 0},
      {"DI26.2.5.0", 0, 0}}},
};

void PrintTo(const FamilyRun& run, std::ostream* out) { *out << run.family; }

class FamilyOverPty : public testing::TestWithParam<FamilyRun> {};

TEST_P(FamilyOverPty, ReadsTheValuesOfThePlant) {
  const FamilyRun& run = GetParam();
  TempDir dir;
  Simulator sim(dir, Plant(run.module));
  ASSERT_TRUE(sim.started()) << sim.process().out() << sim.process().err();

  std::vector<std::string> argv{kPoll, "-p",   sim.link(), "-n", std::to_string(run.polls),
                                "-f",  "json", run.family};
  for (const std::string& write : run.writes) argv.insert(argv.end(), {"--write", write});
  argv.insert(argv.end(), run.reads.begin(), run.reads.end());
  const RunResult result = RunProgram(argv);
  EXPECT_EQ(result.status, 0) << result.out << result.err;

  // The writes (on the first poll), and the last poll's reads, by item.
  std::map<std::string, nlohmann::json> written;
  std::map<std::string, nlohmann::json> last;
  bool firstFailed = false;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json object = nlohmann::json::parse(line);
    if (object["op"] == "write") {
      written[object["item"]] = object;
    } else if (object["poll"] == run.polls) {
      last[object["item"]] = object;
    }
    if (object["poll"] == 1 && object["op"] == "read" && object["ok"] == false) firstFailed = true;
  }
  ASSERT_EQ(written.size(), run.writes.size()) << result.out;
  for (const std::string& write : run.writes) {
    const nlohmann::json& object = written[write.substr(0, write.find('='))];
    EXPECT_EQ(object["poll"], 1) << write << ": " << object;
    EXPECT_EQ(object["ok"], true) << write << ": " << object;
    EXPECT_EQ(object["code"], 0) << write << ": " << object;
  }
  ASSERT_EQ(last.size(), run.reads.size()) << result.out;
  for (const Expected& e : run.expected) {
    const nlohmann::json& object = last[e.item];
    EXPECT_EQ(object["ok"], true) << e.item << ": " << object;
    EXPECT_EQ(object["code"], 0) << e.item;
    EXPECT_EQ(object["error"], "OK") << e.item;
    ASSERT_TRUE(object["value"].is_number()) << e.item << ": " << object;
    EXPECT_NEAR(object["value"].get<double>(), e.value, e.tolerance) << e.item;
  }
  // Every poll waits for the modules' gates: no item fails, none is left
  // waiting.
  EXPECT_FALSE(firstFailed) << result.out;
  const int reads = static_cast<int>(run.reads.size());
  const std::string writes =
      run.writes.empty() ? ""
                         : ", " + std::to_string(run.writes.size()) +
                               (run.writes.size() == 1 ? " value written" : " values written");
  // The time-out warning is the wire-time check's business (its own tests);
  // here only the statistics matter.
  std::string diagnostics;
  for (size_t at = 0; at < result.err.size();) {
    const size_t end = result.err.find('\n', at);
    const size_t next = end == std::string::npos ? result.err.size() : end + 1;
    const std::string line = result.err.substr(at, next - at);
    if (line.rfind("tarvo-poll: warning:", 0) != 0) diagnostics += line;
    at = next;
  }
  EXPECT_EQ(diagnostics, run.polls == 1 ? ""
                                        : "--- " + std::to_string(run.polls) + " polls, " +
                                              std::to_string(run.polls * reads) + " values read" +
                                              writes + ", 0 failures\n");
}

INSTANTIATE_TEST_SUITE_P(Families, FamilyOverPty, testing::ValuesIn(kFamilyRuns),
                         [](const auto& info) { return std::string(info.param.family); });

constexpr std::string_view kModule12 =
    R"({"family": "pxr5100", "address": 12, "channels": [{"channel": 0, "points": [
        {"point": 0, "ta": 20.0}]}]})";

TEST(ToolsOverPty, ASilentModuleShowsCode24AndTheBytesOnBothSides) {
  TempDir dir;
  Simulator sim(dir, Plant(kModule12), {"-v", "--fault", "12:silent", "-b", "1200"});
  ASSERT_TRUE(sim.started()) << sim.process().err();
  EXPECT_NE(sim.process().out().find("), answers paced at 1200 baud; Ctrl-C stops\n"),
            std::string::npos)
      << sim.process().out();
  const RunResult result =
      RunProgram({kPoll, "-p", sim.link(), "-1", "--trace", "-f", "csv", "pxr5100", "TA12.0.0"});
  EXPECT_EQ(result.status, 1) << result.err;
  const std::string row = result.out.substr(result.out.find('\n') + 1);
  EXPECT_NE(row.find(",1,pxr5100,TA12.0.0,read,false,,24,初始化模块失败,module initialisation "
                     "failed,"),
            std::string::npos)
      << result.out;
  // The discovery's first command, and no answer to it.
  EXPECT_NE(result.err.find(" Read Send       5  2a 30 63 30 0d"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find(" Read Receive    0  (nothing)\n"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("\ntarvo-poll: pxr5100 module 12 does not answer: check its address, "
                            "the baud rate and the wiring (1 command, 0 bytes)\n"),
            std::string::npos)
      << result.err;
  ASSERT_TRUE(sim.process().WaitForOutput("-> (no answer)", 5s)) << sim.process().out();
  EXPECT_NE(sim.process().out().find(" module  12 pxr5100   <- 2a 30 63 30 0d"), std::string::npos)
      << sim.process().out();
}

// A module that answers, however wrongly, is not said to be silent.
TEST(ToolsOverPty, AModuleThatAnswersWronglyIsNotSaidToBeSilent) {
  TempDir dir;
  Simulator sim(dir, Plant(kModule12), {"--fault", "12:head=X"});
  ASSERT_TRUE(sim.started()) << sim.process().err();
  const RunResult result =
      RunProgram({kPoll, "-p", sim.link(), "-1", "-f", "csv", "pxr5100", "TA12.0.0"});
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_NE(result.out.find(",24,初始化模块失败,"), std::string::npos) << result.out;
  EXPECT_EQ(result.err, "");
}

TEST(ToolsOverPty, EarlyRepliesReadTheSameValues) {
  TempDir dir;
  Simulator sim(dir, Plant(kFamilyRuns[0].module), {"-b", "9600"});
  ASSERT_TRUE(sim.started()) << sim.process().err();
  std::vector<std::string> argv{kPoll, "-p", sim.link(), "--early", "-n", "2", "pxr5100"};
  argv.insert(argv.end(), kFamilyRuns[0].reads.begin(), kFamilyRuns[0].reads.end());
  const RunResult result = RunProgram(argv);
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_NE(result.out.find(", 9600 8N1, early replies, 2 s between polls\n"
                            "  Cpxr5100 (Tarvo.pxr5100), time-out 164 ms: a block read per "
                            "module every 2 s, for one channel\n"),
            std::string::npos)
      << result.out;
  // The second poll reads every value: the scan took a fraction of the
  // gate's two seconds, so only the first poll met the shut gate.
  const std::string second = result.out.substr(result.out.rfind("poll 2"));
  for (const char* value : {"23.5", "-10.125", "18.25", "21.5", "12.5", "123.45"})
    EXPECT_NE(second.find(value), std::string::npos) << value << "\n" << result.out;
  size_t ok = 0;
  for (size_t at = second.find("  OK\n"); at != std::string::npos;
       at = second.find("  OK\n", at + 1))
    ++ok;
  EXPECT_EQ(ok, kFamilyRuns[0].reads.size()) << result.out;
}

TEST(ToolsOverPty, CtrlCEndsThePollsWithStatistics) {
  TempDir dir;
  Simulator sim(dir, Plant(kModule12));
  ASSERT_TRUE(sim.started()) << sim.process().err();
  Process poll({kPoll, "-p", sim.link(), "-f", "json", "pxr5100", "TA12.0.0"});
  ASSERT_TRUE(poll.WaitForOutput("\"poll\":1", 20s)) << poll.err();
  poll.Signal(SIGINT);
  EXPECT_EQ(poll.Wait(10s), 0);
  // A pxr5100 call at a time-out of 164 ms: three tries of two time-outs
  // and a 500 ms pause, then 2 s after no answer.
  EXPECT_EQ(poll.err(),
            "\ntarvo-poll: stopping after the call in progress (up to 5 s); Ctrl-C again stops "
            "at once\n"
            "--- 1 poll, 1 value read, 0 failures\n");
}

// One run, two classes on one line: the pxr5100 object opens it, the
// pxr5700 object adopts its handle (the process holds the line once). A
// pxr5100 module with items on three channels: each poll spends one gate
// per channel and every item has a value, none waiting, none failed.
TEST(ToolsOverPty, TwoClassesShareTheLineAndEveryChannelIsRead) {
  TempDir dir;
  Simulator sim(dir, Plant(std::string(kFamilyRuns[3].module) + "," + R"(
      {"family": "pxr5100", "address": 12, "channels": [
         {"channel": 0, "points": [{"point": 0, "ta": 20.5}]},
         {"channel": 1, "points": [{"point": 1, "tb": -2.5}]},
         {"channel": 5, "points": [{"point": 2, "ta": 30}, {"point": 3, "ua": 4.5}]}]})"));
  ASSERT_TRUE(sim.started()) << sim.process().err();
  Process poll({kPoll, "-p", sim.link(), "-f", "json", "-n", "2", "pxr5100", "TA12.0.0", "TA12.5.2",
                "TB12.1.1", "UA12.5.3", "--", "pxr5700", "DI10.3", "WI10.1"});
  ASSERT_TRUE(poll.WaitForOutput("\"poll\":1", 20s)) << poll.err();
  char device[256] = {};
  ASSERT_GT(readlink(sim.link().c_str(), device, sizeof device - 1), 0);
  int opened = 0;
  const std::string fds = "/proc/" + std::to_string(poll.pid()) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(fds)) {
    char target[256] = {};
    if (readlink(entry.path().c_str(), target, sizeof target - 1) > 0 &&
        std::string(target) == device)
      ++opened;
  }
  EXPECT_EQ(opened, 1);
  ASSERT_EQ(poll.Wait(30s), 0) << poll.err();

  const std::map<std::string, double> values = {{"TA12.0.0", 20.5}, {"TA12.5.2", 30},
                                                {"TB12.1.1", -2.5}, {"UA12.5.3", 4.5},
                                                {"DI10.3", 1},      {"WI10.1", 23.45}};
  std::istringstream lines(poll.out());
  int rows = 0;
  for (std::string line; std::getline(lines, line); ++rows) {
    const nlohmann::json object = nlohmann::json::parse(line);
    EXPECT_EQ(object["ok"], true) << line;
    EXPECT_EQ(object["waiting"], false) << line;
    EXPECT_NEAR(object["value"].get<double>(), values.at(object["item"]), 1e-5) << line;
  }
  EXPECT_EQ(rows, 12);
  EXPECT_EQ(poll.err(), "--- 2 polls, 12 values read, 0 failures\n");
}

// -1 right after the start: each module's gate is waited for, so both
// gated classes give values; an absent sensor gets its block read and its
// honest code 22.
TEST(ToolsOverPty, OnePollRightAfterTheStartGivesValues) {
  TempDir dir;
  Simulator sim(dir, Plant(std::string(kFamilyRuns[0].module) + "," + kFamilyRuns[1].module));
  ASSERT_TRUE(sim.started()) << sim.process().err();
  const RunResult result = RunProgram({kPoll, "-p", sim.link(), "-1", "-f", "csv", "pxr5303",
                                       "TA7.0.0", "--", "pxr5100", "TA12.1.0", "TA12.1.1"});
  EXPECT_EQ(result.status, 1) << result.err;
  std::istringstream lines(result.out);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line.substr(line.find(',')));
  ASSERT_EQ(rows.size(), 4u) << result.out;
  EXPECT_EQ(rows[1].substr(0, rows[1].find(",OK,")), ",1,pxr5303,TA7.0.0,read,true,21.5,0");
  EXPECT_EQ(rows[2].substr(0, rows[2].find(",OK,")), ",1,pxr5100,TA12.1.0,read,true,23.5,0");
  EXPECT_EQ(rows[3].substr(0, rows[3].find(",读数据错误,")), ",1,pxr5100,TA12.1.1,read,false,,22");
}

// A line of a gateway plant file, its port and items, polled by cron into
// one CSV log: the header once, a row per run.
TEST(ToolsOverPty, ALineOfAGatewayPlantAppendedToOneCsvLogUnderOneHeader) {
  TempDir dir;
  Simulator sim(dir, Plant(kModule12));
  ASSERT_TRUE(sim.started()) << sim.process().err();
  const std::string plant = dir.Write(
      "gateway.yaml",
      "mqtt: {host: localhost, prefix: plant}\nhttp: {port: 9464}\nlines:\n"
      "  - {line: other, port: COM9, classes: [{class: pxr5700, items: [{item: DI4.0}]}]}\n"
      "  - line: boiler\n    port: " +
          sim.link() +
          "\n    classes:\n"
          "      - {class: pxr5100, items: [{item: TA12.0.0, name: flow}]}\n");
  const std::string log = dir.path() + "/log.csv";
  const std::string run = kPoll + " --plant " + plant + " --line boiler -1 -f csv >> " + log;
  for (int i = 0; i < 2; ++i) {
    const RunResult result = RunProgram({"/bin/sh", "-c", run});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
  }
  std::ifstream file(log);
  std::vector<std::string> rows;
  for (std::string line; std::getline(file, line);) rows.push_back(line.substr(line.find(',')));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], ",poll,class,item,op,ok,value,code,error,gloss,time,age,name,unit");
  for (int i = 1; i < 3; ++i)
    EXPECT_EQ(rows[i].substr(0, rows[i].find(",OK,")), ",1,pxr5100,TA12.0.0,read,true,20,0");
}

TEST(ToolsOverPty, TheSimulatorRefusesABadPlantNamingTheLine) {
  TempDir dir;
  const std::string file =
      dir.Write("bad.json", "{\"modules\": [\n  {\"family\": \"pxr5100\", \"address\": -1}]}\n");
  const RunResult result = RunProgram({kSim, "--plant", file, "--link", dir.path() + "/pxr"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "pxrsim: " + file +
                            ":2:25: modules[0].address: expected a whole number from 0 to 127, "
                            "found -1\n");
  const RunResult missing = RunProgram({kSim, "--plant", dir.path() + "/none.json"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "pxrsim: cannot read the plant file " + dir.path() +
                             "/none.json: No such file or directory\n");
}

TEST(ToolsOverPty, TheSimulatorServesASerialDevice) {
  // The slave end of a pty stands in for the device; the test is the host
  // on the master end.
  TempDir dir;
  sim::PtyPair line;
  Process sim({kSim, "--plant", dir.Write("plant.json", Plant(kModule12)), "--device",
               line.slavePath(), "-b", "19200", "--parity", "even"});
  ASSERT_TRUE(sim.WaitForOutput("pxrsim: serving on " + line.slavePath() + " at 19200 8E1", 10s))
      << sim.err();
  ASSERT_EQ(write(line.master(), "*0c0\r", 5), 5);
  std::string answer;
  const auto end = std::chrono::steady_clock::now() + 5s;
  char buffer[64];
  while (answer.size() < 7 && std::chrono::steady_clock::now() < end) {
    pollfd fd{line.master(), POLLIN, 0};
    if (poll(&fd, 1, 100) <= 0) continue;
    const ssize_t n = read(line.master(), buffer, sizeof buffer);
    if (n > 0) answer.append(buffer, static_cast<size_t>(n));
  }
  EXPECT_EQ(answer, std::string(">0c0\x01\x00\r", 7));
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(10s), 0);
}

TEST(ToolsOverPty, OneLinkServesOneSimulator) {
  TempDir dir;
  Simulator first(dir, Plant(kModule12));
  ASSERT_TRUE(first.started());
  const RunResult second = RunProgram({kSim, "--link", first.link()});
  EXPECT_EQ(second.status, 2);
  EXPECT_NE(second.err.find("pxrsim: another pxrsim serves " + first.link() +
                            "; stop it or choose another path with --link\n"),
            std::string::npos)
      << second.err;
}

}  // namespace
}  // namespace tarvo::test
