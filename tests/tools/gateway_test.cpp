// tarvo-gateway run as a user runs it, against pxrsim over pseudo-terminals
// and a real mosquitto broker on a loopback port: every item published
// with its value and unit, an output switched from its set topic, the
// metrics scraped, a broker restart, the last will, and a line whose
// device goes away and comes back while the other line keeps publishing
// (its status topic saying so). Home Assistant's discovery configs, values
// published on change only, writes answered with their id and on an MQTT
// v5 response topic.
// What outside clients may send: any payload on a set topic, a retained
// one, sets to no output, a flood of writes, HTTP clients that send
// nothing, slowly, or too much. --once switches no output unasked. Its plant
// file's mistakes are refused with their position.
#include <arpa/inet.h>
#include <fmt/format.h>
#include <httplib.h>
#include <modbus/modbus.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <variant>

#include "gtest/gtest.h"
#include "support/mqtt_probe.h"
#include "support/process.h"
#include "tools/gateway/event_hub.h"
#include "tools/gateway/gateway_plant.h"
#include "tools/gateway/modbus_map.h"
#include "tools/gateway/mqtt_link.h"
#include "tools/gateway/plant_reload.h"
#include "tools/gateway/set_router.h"

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using Received = MqttProbe::Received;

const std::string kGateway = TARVO_GATEWAY_PATH;
const std::string kSim = PXRSIM_PATH;
const std::string kPoll = TARVO_POLL_PATH;

// pxrsim on a link in `dir`: the built-in plant, or `plant`.
class Sim {
 public:
  Sim(const TempDir& dir, const std::string& name, const std::string& plant = "",
      std::vector<std::string> options = {})
      : link_(dir.path() + "/" + name) {
    std::vector<std::string> argv{kSim, "--link", link_};
    if (!plant.empty()) {
      argv.push_back("--plant");
      argv.push_back(dir.Write(name + ".json", plant));
    }
    argv.insert(argv.end(), options.begin(), options.end());
    process_.emplace(argv);
    EXPECT_TRUE(process_->WaitForOutput("pxrsim: serving on " + link_, 10s));
  }
  const std::string& link() const { return link_; }
  // Whether it printed `text` (with -v, the bytes it receives), within `limit`.
  bool Printed(std::string_view text, std::chrono::milliseconds limit) {
    return process_->WaitForOutput(text, limit);
  }

 private:
  std::string link_;
  std::optional<Process> process_;
};

constexpr char kPumpStation[] = R"({"modules": [{"family": "pxr5700", "address": 4, "inputs": 5,
  "outputs": 0, "temperatures": [{"channel": 1, "ta": 38.5}]}]})";
const Json kPumpItems = Json::parse(R"([{"class": "pxr5700", "items": [
  {"item": "DI4.0", "name": "pump"}, {"item": "TA4.1", "unit": "°C", "topic": "pump/flow"}]}])");

Json Line(const std::string& name, const std::string& port, const Json& classes) {
  return {{"line", name}, {"port", port}, {"interval", 0.2}, {"classes", classes}};
}

std::string PlantText(int brokerPort, const Json& lines) {
  return Json{{"mqtt", {{"host", "127.0.0.1"}, {"port", brokerPort}, {"prefix", "test"}}},
              {"lines", lines}}
      .dump();
}

// The gateway on a plant file, its metrics on a free port.
Process StartGateway(const TempDir& dir, const std::string& plant) {
  return Process({kGateway, dir.Write("gateway.json", plant), "--http", "127.0.0.1:0"});
}

int MetricsPort(Process& gateway) {
  EXPECT_TRUE(gateway.WaitForError("/metrics\n", 10s)) << gateway.err();
  std::smatch match;
  const std::string err = gateway.err();
  if (!std::regex_search(err, match, std::regex(R"(http://127\.0\.0\.1:(\d+)/metrics)"))) return 0;
  return std::stoi(match[1]);
}

std::optional<Json> LastJson(const MqttProbe& probe, const std::string& topic,
                             MqttProbe::Clock::time_point since = {}) {
  const std::optional<std::string> payload = probe.Last(topic, since);
  if (!payload) return std::nullopt;
  return Json::parse(*payload);
}

// Whether the topic's last message since `since` is a reading with ok as given.
auto Reads(const std::string& topic, bool ok, MqttProbe::Clock::time_point since = {}) {
  return [=](const std::vector<Received>& all) {
    for (auto m = all.rbegin(); m != all.rend(); ++m)
      if (m->topic == topic && m->at >= since) return Json::parse(m->payload)["ok"] == ok;
    return false;
  };
}

// The default client id of a gateway on the plant file NAME.json, and its
// status topic.
std::string ClientId(const std::string& plantName) {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  return fmt::format("tarvo-gateway-{}-{}", host, plantName);
}

std::string StatusTopic(const std::string& plantName) {
  return "test/gateway/" + ClientId(plantName) + "/status";
}

auto Says(const std::string& topic, const std::string& payload,
          MqttProbe::Clock::time_point since = {}) {
  return [=](const std::vector<Received>& all) {
    return std::any_of(all.begin(), all.end(), [&](const Received& m) {
      return m.topic == topic && m.payload == payload && m.at >= since;
    });
  };
}

double SumOf(const std::string& metrics, const std::string& name) {
  double sum = 0;
  std::istringstream lines(metrics);
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with(name + "{")) sum += std::stod(line.substr(line.rfind(' ') + 1));
  return sum;
}

struct Expected {
  const char* item;
  double min;
  double max;
  const char* unit;
};

// The built-in plant's values: constants exactly, the moving ones within
// their swing.
const Expected kBuiltInValues[] = {
    {"TA1.0.0", 18.5, 24.5, "°C"},
    {"WM1.0.1", 123.45, 123.45, ""},
    {"UB1.0.5", 12.5, 12.5, ""},
    {"TA1.1.0", 18, 18, "°C"},
    {"WB2.1.0", 82.5, 82.5, ""},
    {"WA2.2.4", -18.25, -18.25, "°C"},
    {"WB3.0.1", 54.99, 55.01, "%"},
    {"WA3.1.0", 21.5, 21.5, "°C"},
    {"DI4.0", 1, 1, ""},
    {"DI4.1", 0, 0, ""},
    {"DO4.2", 1, 1, ""},
    {"TB4.2", 12.5, 12.5, "°C"},
    {"WI4.2", -1, -1, ""},
    {"HB5.0.1", -8, -8, ""},
    {"AD5.1.0.3", 2, 3, "V"},
    {"DO5.2.0.4", 1, 1, ""},
};

TEST(Gateway, PublishesEveryItemOfThePlantAndSwitchesAnOutputFromMqtt) {
  TempDir dir;
  Broker broker(dir);
  Sim sim(dir, "sim");
  std::ifstream builtIn(BUILTIN_PLANT_PATH);
  const Json classes = Json::parse(builtIn)["classes"];
  MqttProbe probe(broker.port(), "test/#");
  Process gateway =
      StartGateway(dir, PlantText(broker.port(), Json::array({Line("a", sim.link(), classes)})));
  const int metricsPort = MetricsPort(gateway);

  std::vector<std::string> topics;
  for (const Json& group : classes)
    for (const Json& item : group["items"])
      topics.push_back("test/a/" + item["item"].get<std::string>());
  ASSERT_TRUE(probe.WaitFor(
      [&](const std::vector<Received>& all) {
        return std::all_of(topics.begin(), topics.end(),
                           [&](const std::string& t) { return Reads(t, true)(all); });
      },
      60s))
      << gateway.err();
  EXPECT_EQ(probe.Last(StatusTopic("gateway")), "online");
  for (const Expected& e : kBuiltInValues) {
    const Json payload = *LastJson(probe, std::string("test/a/") + e.item);
    EXPECT_GE(payload["value"].get<double>(), e.min) << e.item;
    EXPECT_LE(payload["value"].get<double>(), e.max) << e.item;
    EXPECT_EQ(payload["unit"], e.unit) << e.item;
    EXPECT_EQ(payload["code"], 0) << e.item;
    EXPECT_EQ(payload["error"], "OK") << e.item;
  }

  // Every item in the metrics; the counters move.
  httplib::Client http("127.0.0.1", metricsPort);
  const auto first = http.Get("/metrics");
  ASSERT_TRUE(first) << gateway.err();
  for (const Json& group : classes)
    for (const Json& item : group["items"])
      EXPECT_NE(first->body.find("item=\"" + item["item"].get<std::string>() + "\""),
                std::string::npos)
          << item;
  const std::string scraped = dir.Write("metrics.txt", first->body);
  const RunResult lint = RunProgram({"/bin/sh", "-c", "promtool check metrics < " + scraped});
  EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
  EXPECT_EQ(lint.out + lint.err, "");
  const double exchanges = SumOf(first->body, "tarvo_exchanges_total");
  EXPECT_GT(exchanges, 0);
  EXPECT_TRUE(probe.WaitFor(
      [&](const std::vector<Received>&) {
        const auto again = http.Get("/metrics");
        return again && SumOf(again->body, "tarvo_exchanges_total") > exchanges;
      },
      10s));
  const auto health = http.Get("/health");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  EXPECT_EQ(Json::parse(health->body)["lines"]["a"], "up");

  // A set topic switches the output (a pxr5700 and a pxr5760 one); the
  // next value published shows it. A value that is not a switch is refused.
  for (const char* item : {"DO4.2", "DO5.2.0.4"}) {
    const std::string topic = std::string("test/a/") + item;
    const auto asked = MqttProbe::Clock::now();
    probe.Publish(topic + "/set", "off");
    ASSERT_TRUE(probe.WaitFor(
        [&](const auto& all) { return Reads(topic + "/result", true, asked)(all); }, 40s))
        << gateway.err();
    EXPECT_EQ(LastJson(probe, topic + "/result")->at("value"), 0);
    const auto written = MqttProbe::Clock::now();
    ASSERT_TRUE(
        probe.WaitFor([&](const auto& all) { return Reads(topic, true, written)(all); }, 40s));
    EXPECT_EQ(LastJson(probe, topic, written)->at("value"), 0);
  }
  const auto asked = MqttProbe::Clock::now();
  probe.Publish("test/a/DO4.2/set", "maybe");
  ASSERT_TRUE(probe.WaitFor(
      [&](const auto& all) { return Reads("test/a/DO4.2/result", false, asked)(all); }, 10s));
  EXPECT_EQ(LastJson(probe, "test/a/DO4.2/result", asked)->at("gloss"),
            "the value must be 0, 1, on or off (or true, false)");
  // Metrics of the writes; a value refused is no write.
  const auto last = http.Get("/metrics");
  EXPECT_EQ(SumOf(last->body, "tarvo_writes_total"), 2);
  EXPECT_EQ(SumOf(last->body, "tarvo_write_failures_total"), 0);
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// SIGHUP: a line added, a line's baud rate changed and an item dropped, a
// mistake. The line that stays as it was is opened once in all.
TEST(Gateway, ReadsItsPlantAgainOnSighupAndKeepsTheRunningPlantOnAMistake) {
  TempDir dir;
  Broker broker(dir);
  Sim simA(dir, "simA", kPumpStation);
  Sim simB(dir, "simB", kPumpStation);
  MqttProbe probe(broker.port(), "test/#");
  const Json lineA = Line("a", simA.link(), kPumpItems);
  Process gateway = StartGateway(dir, PlantText(broker.port(), Json::array({lineA})));
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DI4.0", true), 30s)) << gateway.err();

  Json lineB = Line("b", simB.link(), kPumpItems);
  dir.Write("gateway.json", PlantText(broker.port(), Json::array({lineA, lineB})));
  gateway.Signal(SIGHUP);
  ASSERT_TRUE(probe.WaitFor(Reads("test/b/pump/flow", true), 30s)) << gateway.err();
  EXPECT_TRUE(gateway.WaitForError(
      "reload: 1 line polled on, 1 started, 0 stopped, 0 item messages cleared\n", 5s))
      << gateway.err();

  lineB["baud"] = 19200;
  lineB["classes"][0]["items"] = Json::array({kPumpItems[0]["items"][0]});
  dir.Write("gateway.json", PlantText(broker.port(), Json::array({lineA, lineB})));
  const auto changed = MqttProbe::Clock::now();
  gateway.Signal(SIGHUP);
  EXPECT_TRUE(probe.WaitFor(Says("test/b/pump/flow", "", changed), 30s)) << gateway.err();
  EXPECT_TRUE(probe.WaitFor(Reads("test/b/DI4.0", true, changed), 30s)) << gateway.err();
  EXPECT_TRUE(gateway.WaitForError(
      "reload: 1 line polled on, 1 started, 1 stopped, 1 item message cleared\n", 5s))
      << gateway.err();
  EXPECT_TRUE(gateway.WaitForError(" = " + simB.link() + " at 19200 8N1\n", 5s)) << gateway.err();

  Json wrong = lineB;
  wrong["baud"] = 12345;
  dir.Write("gateway.json", PlantText(broker.port(), Json::array({lineA, wrong})));
  gateway.Signal(SIGHUP);
  EXPECT_TRUE(gateway.WaitForError(
      "lines[1].baud: the library cannot set this rate; it sets 110, 300, 600, 1200, 2400, 4800, "
      "9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000; the running plant "
      "stays\n",
      5s))
      << gateway.err();
  const auto after = MqttProbe::Clock::now();
  EXPECT_TRUE(probe.WaitFor(
      [&](const auto& all) {
        return Reads("test/a/DI4.0", true, after)(all) && Reads("test/b/DI4.0", true, after)(all);
      },
      30s))
      << gateway.err();
  EXPECT_EQ(Count(gateway.err(), "line a: open:"), 1u) << gateway.err();
  EXPECT_EQ(Count(gateway.err(), "line b: open:"), 2u) << gateway.err();
}

TEST(Gateway, WaitsForTheBrokerSurvivesItsRestartAndLeavesItsLastWillWhenKilled) {
  TempDir dir;
  Broker broker(dir);
  broker.Stop();
  Sim sim(dir, "sim", kPumpStation);
  Process gateway = StartGateway(
      dir, PlantText(broker.port(), Json::array({Line("pumps", sim.link(), kPumpItems)})));
  // A broker that comes after the gateway (at boot) is found.
  ASSERT_TRUE(gateway.WaitForError("Connection refused; trying again", 10s)) << gateway.err();
  broker.Start();
  MqttProbe probe(broker.port(), "test/#");
  ASSERT_TRUE(probe.WaitFor(Reads("test/pumps/pump/flow", true), 20s)) << gateway.err();
  EXPECT_EQ(LastJson(probe, "test/pumps/pump/flow")->at("value"), 38.5);
  EXPECT_EQ(LastJson(probe, "test/pumps/DI4.0")->at("name"), "pump");

  broker.Stop();
  const auto restarted = MqttProbe::Clock::now();
  broker.Start();
  // The new broker knows nothing retained: it has it all from the gateway.
  EXPECT_TRUE(probe.WaitFor(Says(StatusTopic("gateway"), "online", restarted), 40s))
      << gateway.err();
  EXPECT_TRUE(probe.WaitFor(Reads("test/pumps/DI4.0", true, restarted), 10s));

  const auto killed = MqttProbe::Clock::now();
  gateway.Signal(SIGKILL);
  EXPECT_TRUE(probe.WaitFor(Says(StatusTopic("gateway"), "offline", killed), 20s));
}

TEST(Gateway, ALineWhoseDeviceGoesAwayIsReopenedWhileTheOtherKeepsPublishing) {
  TempDir dir;
  Broker broker(dir);
  Sim one(dir, "one", kPumpStation);
  std::optional<Sim> two(std::in_place, dir, "two", kPumpStation);
  MqttProbe probe(broker.port(), "test/#");
  Process gateway = StartGateway(
      dir, PlantText(broker.port(), Json::array({Line("one", one.link(), kPumpItems),
                                                 Line("two", two->link(), kPumpItems)})));
  httplib::Client http("127.0.0.1", MetricsPort(gateway));
  ASSERT_TRUE(probe.WaitFor(Reads("test/two/DI4.0", true), 20s)) << gateway.err();
  EXPECT_EQ(probe.Last("test/two/status"), "online");

  const auto gone = MqttProbe::Clock::now();
  two.reset();
  ASSERT_TRUE(probe.WaitFor(Reads("test/two/DI4.0", false, gone), 20s)) << gateway.err();
  EXPECT_TRUE(probe.WaitFor(Says("test/two/status", "offline", gone), 10s));
  const Json failed = *LastJson(probe, "test/two/DI4.0", gone);
  EXPECT_EQ(failed["value"], 1) << "the last value stays";
  EXPECT_EQ(failed["last_failure"]["code"], failed["code"]);
  EXPECT_NE(failed["code"], 0);
  EXPECT_EQ(gateway.err().find("line two: pxr5700 module 4 does not answer"), std::string::npos)
      << "the port failed, not the module: " << gateway.err();
  // Still doing its work, but not all of it.
  const auto health = http.Get("/health");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  EXPECT_EQ(Json::parse(health->body), Json::parse(R"({"status": "degraded", "mqtt": "connected",
                            "lines": {"one": "up", "two": "down"}})"));
  // Line one goes on meanwhile.
  const auto failedAt = MqttProbe::Clock::now();
  EXPECT_TRUE(probe.WaitFor(
      [&](const std::vector<Received>& all) {
        return std::count_if(all.begin(), all.end(), [&](const Received& m) {
                 return m.topic == "test/one/DI4.0" && m.at > failedAt;
               }) >= 3;
      },
      10s));

  two.emplace(dir, "two", kPumpStation);
  EXPECT_TRUE(probe.WaitFor(Reads("test/two/DI4.0", true, failedAt), 40s)) << gateway.err();
  EXPECT_EQ(probe.Last("test/two/status"), "online");
  EXPECT_EQ(probe.Last("test/one/status"), "online");

  // SIGTERM: the lines closed, "offline" published for each and the gateway.
  const auto stopped = MqttProbe::Clock::now();
  gateway.Signal(SIGTERM);
  EXPECT_EQ(gateway.Wait(10s), 0) << gateway.err();
  for (const std::string& topic :
       {StatusTopic("gateway"), std::string("test/one/status"), std::string("test/two/status")})
    EXPECT_TRUE(probe.WaitFor(Says(topic, "offline", stopped), 10s)) << topic << gateway.err();
  EXPECT_NE(gateway.err().find("tarvo-gateway: stopped\n"), std::string::npos) << gateway.err();
}

// Two gateways on one broker, their plant files of two names: each its
// own client id and status topic, neither drops the other; the HTTP port
// the first holds is the second's once free. Two of one id: the log says
// why they keep losing the broker.
TEST(Gateway, TwoGatewaysOnOneBrokerKeepTheirOwnIdAndStatusAndTakeTheHttpPortInTurn) {
  TempDir dir;
  Broker broker(dir);
  MqttProbe probe(broker.port(), "test/#");
  const int httpPort = FreeLoopbackPort();
  const std::string metrics = fmt::format("metrics on http://127.0.0.1:{}/metrics\n", httpPort);
  std::vector<std::unique_ptr<Sim>> sims;
  auto start = [&](const std::string& name, std::vector<std::string> options = {}) {
    sims.push_back(std::make_unique<Sim>(dir, name, kPumpStation));
    const std::string plant = dir.Write(
        name + ".json",
        PlantText(broker.port(), Json::array({Line(name, sims.back()->link(), kPumpItems)})));
    std::vector<std::string> argv{kGateway, plant, "--http", fmt::format("127.0.0.1:{}", httpPort)};
    argv.insert(argv.end(), options.begin(), options.end());
    return std::make_unique<Process>(argv);
  };
  const std::unique_ptr<Process> one = start("one");
  ASSERT_TRUE(one->WaitForError(metrics, 10s)) << one->err();
  const std::unique_ptr<Process> two = start("two");
  ASSERT_TRUE(two->WaitForError(fmt::format("cannot serve HTTP on 127.0.0.1:{} (in use, or not an "
                                            "address of this machine); trying again every 1 to "
                                            "30 s\n",
                                            httpPort),
                                10s))
      << two->err();
  ASSERT_TRUE(probe.WaitFor(
      [&](const auto& all) {
        return Says(StatusTopic("one"), "online")(all) && Says(StatusTopic("two"), "online")(all) &&
               Reads("test/two/DI4.0", true)(all);
      },
      20s))
      << one->err() << two->err();

  const auto stopped = MqttProbe::Clock::now();
  one->Signal(SIGTERM);
  EXPECT_EQ(one->Wait(10s), 0) << one->err();
  EXPECT_TRUE(probe.WaitFor(Says(StatusTopic("one"), "offline", stopped), 10s));
  EXPECT_TRUE(two->WaitForError(metrics, 20s)) << two->err();
  EXPECT_EQ(probe.Last(StatusTopic("two")), "online");
  EXPECT_EQ(two->err().find("lost the broker"), std::string::npos) << two->err();
  EXPECT_EQ(two->Wait(0ms), std::nullopt);

  // A third gateway given the second's id: they take the connection from
  // each other, and say so.
  const std::unique_ptr<Process> three = start("three", {"--client-id", ClientId("two")});
  EXPECT_TRUE(
      three->WaitForError("keeps taking the connection? Give each gateway its own "
                          "(--client-id, \"client_id\")\n",
                          40s))
      << three->err();
}

TEST(Gateway, AModuleThatStopsAnsweringFailsOnlyItsOwnItems) {
  TempDir dir;
  Broker broker(dir);
  const std::string twoStations = R"({"modules": [
    {"family": "pxr5700", "address": 4, "inputs": 1, "outputs": 0},
    {"family": "pxr5700", "address": 6, "inputs": 1, "outputs": 0}]})";
  Sim sim(dir, "sim", twoStations, {"--fault", "4:silent"});
  MqttProbe probe(broker.port(), "test/#");
  const Json items = Json::parse(R"([{"class": "pxr5700", "items": [
    {"item": "DI4.0"}, {"item": "DI6.0"}]}])");
  Process gateway =
      StartGateway(dir, PlantText(broker.port(), Json::array({Line("a", sim.link(), items)})));
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DI4.0", false), 20s)) << gateway.err();
  EXPECT_EQ(LastJson(probe, "test/a/DI4.0")->at("code"), 17);
  const auto failed = MqttProbe::Clock::now();
  EXPECT_TRUE(probe.WaitFor(
      [&](const std::vector<Received>& all) {
        return std::count_if(all.begin(), all.end(), [&](const Received& m) {
                 return m.topic == "test/a/DI6.0" && m.at > failed &&
                        Json::parse(m.payload)["value"] == 1;
               }) >= 3;
      },
      20s))
      << gateway.err();
  EXPECT_EQ(gateway.err().find("closing the line"), std::string::npos) << gateway.err();
  // Said once, however many polls it stays silent.
  const std::string silent =
      "line a: pxr5700 module 4 does not answer: check its address, the baud rate and the wiring "
      "(1 command, 0 bytes)\n";
  const std::string log = gateway.err();
  EXPECT_NE(log.find(silent), std::string::npos) << log;
  EXPECT_EQ(log.find(silent), log.rfind(silent)) << log;
}

constexpr char kValveStation[] = R"({"modules": [{"family": "pxr5700", "address": 4,
  "inputs": 1, "outputs": 4}]})";
const Json kValveItems = Json::parse(R"([{"class": "pxr5700", "items": [
  {"item": "DI4.0"}, {"item": "DO4.2", "name": "valve"}]}])");
constexpr char kValues[] = "the value must be 0, 1, on or off (or true, false)";

constexpr char kReadOnly[] = "register DI is read only: only an output can be set";

// Payloads anyone on the broker may send on a set topic: each answered on
// the item's result topic, but an empty one (a retained message cleared).
struct MalformedPayload {
  const char* item;
  std::string payload;
  const char* error;  // the result's; nullptr: no answer
  const char* gloss;
};

const MalformedPayload kMalformedPayloads[] = {
    {"DO4.2", "", nullptr, nullptr},
    {"DI4.0", "1", "not an output", kReadOnly},
    {"DO4.2", std::string("\xff\xfe\x00", 3), R"("\xff\xfe\x00" is not UTF-8 text)", kValues},
    {"DO4.2", std::string(64 * 1024, '1'),
     R"("11111111111111111111111111111111..." (65536 bytes) is too long to be a value)", kValues},
    {"DO4.2", std::string(16, '\0'),
     R"("\x00\x00\x00\x00\x00\x00\x00\x00..." (16 bytes) is not a value to write)", kValues},
    {"DO4.2", "1\n\x1b[2J", R"("1\x0a\x1b[2J" is not a value to write)", kValues},
};

TEST(Gateway, AnswersAnyPayloadOnASetTopicAndGoesOnPublishing) {
  TempDir dir;
  Broker broker(dir);
  Sim sim(dir, "sim", kValveStation);
  MqttProbe probe(broker.port(), "test/#");
  Process gateway = StartGateway(
      dir, PlantText(broker.port(), Json::array({Line("a", sim.link(), kValveItems)})));
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DO4.2", true), 20s)) << gateway.err();
  size_t answered = 0;
  for (const MalformedPayload& m : kMalformedPayloads) {
    const std::string topic = std::string("test/a/") + m.item;
    const auto asked = MqttProbe::Clock::now();
    probe.Publish(topic + "/set", m.payload);
    if (m.error == nullptr) continue;
    ++answered;
    ASSERT_TRUE(probe.WaitFor(Reads(topic + "/result", false, asked), 10s))
        << m.error << gateway.err();
    Json expected = {{"item", m.item},  {"value", nullptr}, {"ok", false},
                     {"code", nullptr}, {"error", m.error}, {"gloss", m.gloss}};
    Json result = *LastJson(probe, topic + "/result", asked);
    EXPECT_TRUE(result.contains("time"));
    result.erase("time");
    EXPECT_EQ(result, expected);
    EXPECT_NE(gateway.err().find(fmt::format("tarvo-gateway: line a: {} not set: {} ({})\n", m.item,
                                             m.error, m.gloss)),
              std::string::npos)
        << gateway.err();
  }
  // The empty payload, though it came first, was not answered; the
  // gateway goes on, its log lines short.
  const std::vector<Received> all = probe.received();
  EXPECT_EQ(
      static_cast<size_t>(std::count_if(
          all.begin(), all.end(), [](const Received& m) { return m.topic.ends_with("/result"); })),
      answered);
  const auto after = MqttProbe::Clock::now();
  EXPECT_TRUE(probe.WaitFor(Reads("test/a/DI4.0", true, after), 10s)) << gateway.err();
  EXPECT_EQ(gateway.Wait(0ms), std::nullopt);
  std::istringstream log(gateway.err());
  for (std::string line; std::getline(log, line);) EXPECT_LT(line.size(), 200u) << line;
}

// A retained set message is the broker's replay, not a write; a set
// message to an item that is not an output is answered, one to no item
// logged once.
TEST(Gateway, IgnoresARetainedSetAnswersSetsToReadOnlyItemsAndLogsUnknownOnce) {
  TempDir dir;
  Broker broker(dir);
  Sim sim(dir, "sim", kValveStation);
  MqttProbe probe(broker.port(), "test/#");
  probe.Publish("test/a/DO4.2/set", "0", true);
  ASSERT_TRUE(probe.WaitFor(Says("test/a/DO4.2/set", "0"), 10s));
  Json items = kValveItems;
  items[0]["writes"] = {"DO4.2=1"};
  Process gateway =
      StartGateway(dir, PlantText(broker.port(), Json::array({Line("a", sim.link(), items)})));
  ASSERT_TRUE(gateway.WaitForError("a retained message is not a write", 20s)) << gateway.err();
  const auto replayed = MqttProbe::Clock::now();
  ASSERT_TRUE(probe.WaitFor(
      [&](const std::vector<Received>& all) {
        return std::count_if(all.begin(), all.end(), [&](const Received& m) {
                 return m.topic == "test/a/DO4.2" && m.at > replayed;
               }) >= 3;
      },
      20s))
      << gateway.err();
  EXPECT_EQ(LastJson(probe, "test/a/DO4.2")->at("value"), 1);

  for (int i = 0; i < 2; ++i)
    for (const char* topic : {"test/a/DI4.0/set", "test/a/nosuch/set", "test/a/DI4.0/x/set"})
      probe.Publish(topic, "1");
  const auto asked = MqttProbe::Clock::now();
  probe.Publish("test/a/DO4.2/set", "0");
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DO4.2/result", true, asked), 20s)) << gateway.err();
  EXPECT_EQ(LastJson(probe, "test/a/DI4.0/result")->at("error"), "not an output");
  gateway.Signal(SIGTERM);
  EXPECT_EQ(gateway.Wait(10s), 0) << gateway.err();
  auto count = [&](const std::string& line) {
    size_t n = 0;
    for (size_t at = 0; (at = gateway.err().find(line, at)) != std::string::npos; at += line.size())
      ++n;
    return n;
  };
  const std::pair<std::string, size_t> kLogged[] = {
      {"tarvo-gateway: line a: DO4.2 set to 1 (the plant file's write): written\n", 1},
      {"tarvo-gateway: MQTT: \"test/a/DO4.2/set\": a retained message is not a write and is "
       "ignored; clear it with an empty retained one\n",
       1},
      {"tarvo-gateway: line a: DO4.2 set to 0: written\n", 1},
      {"tarvo-gateway: line a: DI4.0 not set: not an output (register DI is read only: only an "
       "output can be set)\n",
       2},
      {"tarvo-gateway: MQTT: \"test/a/nosuch/set\": no item of the plant has this set topic; "
       "ignored\n",
       1},
      {"DI4.0/x/set", 0},  // deeper than any item's: not subscribed
  };
  for (const auto& [line, times] : kLogged) EXPECT_EQ(count(line), times) << line << gateway.err();
}

// --once (and tarvo-poll on a plant file) switches no output unless asked;
// each write made is printed and logged. pxrsim keeps its output between
// the runs.
struct OnceRun {
  std::vector<std::string> options;
  size_t printed;   // answers to the plant's writes in the printed messages
  const char* log;  // stderr
  double readBack;  // DO4.2 read afterwards by tarvo-poll
};

const OnceRun kOnceRuns[] = {
    {{},
     0,
     "tarvo-gateway: line a: the plant file's writes were not made (DO4.2=0); --plant-writes "
     "makes them\n",
     1},
    {{"--plant-writes"}, 1, nullptr, 0},
};

// Whether stderr begins with the run's log, or has no note of writes not made.
void ExpectNote(const OnceRun& run, const std::string& err) {
  if (run.log != nullptr)
    EXPECT_TRUE(err.starts_with(run.log)) << err;
  else
    EXPECT_EQ(err.find("not made"), std::string::npos) << err;
}

// DO4.2 as tarvo-poll reads it, without writing.
Json ReadBack(const Sim& sim) {
  const RunResult read =
      RunProgram({kPoll, "-p", sim.link(), "-1", "-f", "json", "pxr5700", "DO4.2"}, 30s);
  EXPECT_EQ(read.status, 0) << read.err;
  return Json::parse(read.out)["value"];
}

TEST(Gateway, OnceSwitchesNoOutputUnlessAskedAndPrintsEachWrite) {
  TempDir dir;
  Sim sim(dir, "sim", kValveStation);
  Json items = kValveItems;
  items[0]["writes"] = {"DO4.2=0"};
  const std::string plant =
      dir.Write("once.json", PlantText(1883, Json::array({Line("a", sim.link(), items)})));
  for (const OnceRun& run : kOnceRuns) {
    std::vector<std::string> argv{kGateway, plant, "--once"};
    argv.insert(argv.end(), run.options.begin(), run.options.end());
    const RunResult once = RunProgram(argv, 30s);
    EXPECT_EQ(once.status, 0) << once.err;
    ExpectNote(run, once.err);
    std::vector<Json> answers;
    for (const Json& message : Json::parse(once.out))
      if (message["topic"] == "test/a/DO4.2/result") answers.push_back(message);
    ASSERT_EQ(answers.size(), run.printed) << once.out;
    if (run.printed == 1) {
      Json payload = answers[0]["payload"];
      payload.erase("time");
      EXPECT_EQ(payload, Json::parse(R"({"item": "DO4.2", "value": 0, "ok": true, "code": 0,
                                         "error": "OK", "gloss": "no error"})"))
          << once.out;
      EXPECT_EQ(answers[0]["retain"], false);
      EXPECT_NE(once.err.find("tarvo-gateway: line a: DO4.2 set to 0 (the plant file's write): "
                              "written\n"),
                std::string::npos)
          << once.err;
    }
    EXPECT_EQ(ReadBack(sim), run.readBack);
  }

  // Writes left unmade are checked all the same.
  items[0]["writes"] = {"DI4.0=1"};
  const RunResult refused = RunProgram(
      {kGateway,
       dir.Write("refused.json", PlantText(1883, Json::array({Line("a", sim.link(), items)}))),
       "--once"},
      30s);
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_NE(refused.err.find("tarvo-gateway: DI4.0=1: register DI cannot be written (read only)\n"),
            std::string::npos)
      << refused.err;

  // tarvo-poll on a plant file of its own, writing DO4.2 back to 1.
  items[0]["writes"] = {"DO4.2=1"};
  const std::string pollPlant = dir.Write("poll.json", Json{{"classes", items}}.dump());
  const OnceRun pollRuns[] = {
      {{},
       0,
       "tarvo-poll: the plant file's writes were not made (DO4.2=1); --plant-writes makes them\n",
       0},
      {{"--plant-writes"}, 1, nullptr, 1},
  };
  for (const OnceRun& run : pollRuns) {
    std::vector<std::string> argv{kPoll, "-p",   sim.link(), "-1",
                                  "-f",  "json", "--plant",  pollPlant};
    argv.insert(argv.end(), run.options.begin(), run.options.end());
    const RunResult poll = RunProgram(argv, 30s);
    EXPECT_EQ(poll.status, 0) << poll.err;
    ExpectNote(run, poll.err);
    size_t written = 0;
    std::istringstream lines(poll.out);
    for (std::string line; std::getline(lines, line);) {
      const Json object = Json::parse(line);
      if (object["op"] == "write" && object["ok"] == true && object["item"] == "DO4.2") ++written;
    }
    EXPECT_EQ(written, run.printed) << poll.out;
    EXPECT_EQ(ReadBack(sim), run.readBack);
  }
}

TEST(Gateway, AFloodOfWritesIsSupersededAnsweredAndLoggedInAFewLines) {
  TempDir dir;
  Broker broker(dir);
  Sim sim(dir, "sim", kValveStation);
  MqttProbe probe(broker.port(), "test/#");
  // The flood keeps the machine busy: pxrsim's answers may come late.
  Json line = Line("a", sim.link(), kValveItems);
  line["timeout_ms"] = 2000;
  Process gateway = StartGateway(dir, PlantText(broker.port(), Json::array({line})));
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DO4.2", true), 20s)) << gateway.err();
  EXPECT_EQ(LastJson(probe, "test/a/DO4.2")->at("value"), 1);

  // 1 000 writes as fast as the broker takes them, the last one 0.
  constexpr int kWrites = 1000;
  const auto flood = MqttProbe::Clock::now();
  for (int i = 0; i < kWrites; ++i) probe.Publish("test/a/DO4.2/set", i % 2 == 0 ? "1" : "0");
  auto answers = [&](const std::vector<Received>& all) {
    std::vector<Json> results;
    for (const Received& m : all)
      if (m.topic == "test/a/DO4.2/result" && m.at >= flood)
        results.push_back(Json::parse(m.payload));
    return results;
  };
  ASSERT_TRUE(probe.WaitFor([&](const auto& all) { return answers(all).size() == kWrites; }, 60s))
      << answers(probe.received()).size() << gateway.err();
  int written = 0;
  int superseded = 0;
  std::string others;
  for (const Json& result : answers(probe.received())) {
    if (result["ok"] == true && result["code"] == 0)
      ++written;
    else if (result["ok"] == false && result["error"] == "(superseded)")
      ++superseded;
    else
      others += result.dump() + "\n";
  }
  EXPECT_EQ(written + superseded, kWrites) << others << gateway.err();
  EXPECT_GE(written, 1);
  EXPECT_GE(superseded, kWrites / 2) << "written one by one: " << written;
  // The last one asked for is the last one made; values go on.
  const auto answered = MqttProbe::Clock::now();
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DO4.2", true, answered), 10s)) << gateway.err();
  EXPECT_EQ(LastJson(probe, "test/a/DO4.2", answered)->at("value"), 0);
  EXPECT_TRUE(probe.WaitFor(Reads("test/a/DI4.0", true, answered), 10s));

  // Each answer logged or counted, in a few lines.
  gateway.Signal(SIGTERM);
  EXPECT_EQ(gateway.Wait(10s), 0) << gateway.err();
  int lines = 0;
  int counted = 0;
  std::istringstream log(gateway.err());
  const std::regex more(R"( \((\d+) more like this in 5 s\)$)");
  for (std::string line; std::getline(log, line);) {
    if (line.find("line a: DO4.2 set to ") == std::string::npos) continue;
    std::smatch match;
    if (std::regex_search(line, match, more))
      counted += std::stoi(match[1]);
    else
      ++lines;
  }
  EXPECT_EQ(lines + counted, kWrites) << gateway.err();
  EXPECT_LE(lines, 10) << gateway.err();
}

// A write over MQTT v5 with a response topic and correlation data: the
// payload and the correlation data of the first answer on the response
// topic, if one comes within 20 s.
std::optional<std::pair<std::string, std::string>> V5Request(int port, const std::string& topic,
                                                             const std::string& payload,
                                                             const std::string& responseTopic,
                                                             const std::string& correlation) {
  struct Answer {
    std::mutex mutex;
    std::condition_variable came;
    std::optional<std::pair<std::string, std::string>> answer;
  } state;
  mosquitto* client = mosquitto_new(nullptr, true, &state);
  mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_message_v5_callback_set(
      client, [](mosquitto*, void* context, const mosquitto_message* message,
                 const mosquitto_property* properties) {
        auto* state = static_cast<Answer*>(context);
        void* data = nullptr;
        uint16_t length = 0;
        std::string correlation;
        if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &data, &length,
                                           false) != nullptr) {
          correlation.assign(static_cast<const char*>(data), length);
          free(data);
        }
        const std::lock_guard lock(state->mutex);
        if (!state->answer)
          state->answer.emplace(std::string(static_cast<const char*>(message->payload),
                                            static_cast<size_t>(message->payloadlen)),
                                correlation);
        state->came.notify_all();
      });
  EXPECT_EQ(mosquitto_connect(client, "127.0.0.1", port, 30), MOSQ_ERR_SUCCESS);
  mosquitto_loop_start(client);
  mosquitto_subscribe(client, nullptr, responseTopic.c_str(), 1);
  mosquitto_property* properties = nullptr;
  mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, responseTopic.c_str());
  mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                static_cast<uint16_t>(correlation.size()));
  mosquitto_publish_v5(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                       payload.data(), 1, false, properties);
  mosquitto_property_free_all(&properties);
  std::optional<std::pair<std::string, std::string>> answer;
  {
    std::unique_lock lock(state.mutex);
    state.came.wait_for(lock, 20s, [&] { return state.answer.has_value(); });
    answer = state.answer;
  }
  mosquitto_disconnect(client);
  mosquitto_loop_stop(client, false);
  mosquitto_destroy(client);
  return answer;
}

TEST(Gateway, AnswersAWriteWithItsIdAndOnTheWritersResponseTopic) {
  TempDir dir;
  Broker broker(dir);
  Sim sim(dir, "sim", kValveStation);
  MqttProbe probe(broker.port(), "test/#");
  Process gateway = StartGateway(
      dir, PlantText(broker.port(), Json::array({Line("a", sim.link(), kValveItems)})));
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DO4.2", true), 20s)) << gateway.err();

  const auto asked = MqttProbe::Clock::now();
  probe.Publish("test/a/DO4.2/set", R"({"value": 0, "id": "node-red-17"})");
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DO4.2/result", true, asked), 20s)) << gateway.err();
  Json result = *LastJson(probe, "test/a/DO4.2/result", asked);
  EXPECT_EQ(result["id"], "node-red-17");
  EXPECT_EQ(result["value"], 0);
  const auto refused = MqttProbe::Clock::now();
  probe.Publish("test/a/DO4.2/set", R"({"value": "half", "id": 18})");
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DO4.2/result", false, refused), 20s)) << gateway.err();
  EXPECT_EQ(LastJson(probe, "test/a/DO4.2/result", refused)->at("id"), 18);

  const auto answer = V5Request(broker.port(), "test/a/DO4.2/set", R"({"value": 1, "id": "v5"})",
                                "clients/me/answers", std::string("\x01\x00\xff", 3));
  ASSERT_TRUE(answer) << gateway.err();
  const Json payload = Json::parse(answer->first);
  EXPECT_EQ(payload["ok"], true) << answer->first;
  EXPECT_EQ(payload["id"], "v5");
  EXPECT_EQ(answer->second, std::string("\x01\x00\xff", 3));
}

// A pxr5700 whose TA4.1 swings 5 °C either side of 30 in 20 s and whose
// TA4.2 stays at 40.
constexpr char kMovingStation[] = R"({"modules": [{"family": "pxr5700", "address": 4,
  "inputs": 1, "outputs": 0, "temperatures": [
    {"channel": 1, "ta": {"sine": {"mean": 30, "amplitude": 5, "period": 20}}},
    {"channel": 2, "ta": 40}]}]})";

TEST(Gateway, OnChangePublishesPastTheDeadBandAndAtMaxIntervalOnly) {
  TempDir dir;
  Broker broker(dir);
  Sim sim(dir, "sim", kMovingStation);
  MqttProbe probe(broker.port(), "test/#");
  Json line = Line("a", sim.link(), Json::parse(R"([{"class": "pxr5700", "items": [
    {"item": "TA4.1", "topic": "moving"}, {"item": "TA4.2", "topic": "steady"},
    {"item": "DI4.0", "publish": "every_read"}]}])"));
  line["publish"] = "on_change";
  line["deadband"] = 2;
  line["max_interval"] = 3;
  Process gateway = StartGateway(dir, PlantText(broker.port(), Json::array({line})));
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/steady", true), 20s)) << gateway.err();
  const auto began = MqttProbe::Clock::now();
  std::this_thread::sleep_for(10s);
  struct Sent {
    double value;
    double at;  // seconds since began
  };
  auto sent = [&](const std::string& topic) {
    std::vector<Sent> all;
    for (const Received& m : probe.received())
      if (m.topic == topic && m.at >= began)
        all.push_back({Json::parse(m.payload)["value"].get<double>(),
                       std::chrono::duration<double>(m.at - began).count()});
    return all;
  };
  // The steady one at each max_interval only; the moving one when it has
  // gone past the dead band since the last message, or at max_interval.
  const std::vector<Sent> steady = sent("test/a/steady");
  ASSERT_GE(steady.size(), 2u) << gateway.err();
  EXPECT_LE(steady.size(), 4u);
  for (size_t i = 1; i < steady.size(); ++i)
    EXPECT_NEAR(steady[i].at - steady[i - 1].at, 3.0, 0.8) << i;
  const std::vector<Sent> moving = sent("test/a/moving");
  size_t changes = 0;
  for (size_t i = 1; i < moving.size(); ++i) {
    const double step = std::abs(moving[i].value - moving[i - 1].value);
    const double gap = moving[i].at - moving[i - 1].at;
    if (gap < 2.8) {
      EXPECT_GT(step, 2) << "a change inside the dead band published at " << moving[i].at;
      ++changes;
    }
  }
  EXPECT_GE(changes, 2u);
  EXPECT_LE(moving.size(), 12u);
  // An item's own "every_read" over its line's policy.
  EXPECT_GE(sent("test/a/DI4.0").size(), 15u);
}

// What Home Assistant needs of each component's config.
struct ComponentKeys {
  const char* component;
  std::vector<const char*> keys;
};

const std::vector<const char*> kEveryEntity = {"name",
                                               "unique_id",
                                               "state_topic",
                                               "value_template",
                                               "device",
                                               "availability",
                                               "availability_mode",
                                               "json_attributes_topic",
                                               "json_attributes_template"};
const ComponentKeys kComponents[] = {
    {"sensor", {"state_class"}},
    {"binary_sensor", {"payload_on", "payload_off"}},
    {"switch", {"command_topic", "payload_on", "payload_off", "state_on", "state_off"}},
};
const std::pair<const char*, const char*> kDeviceClasses[] = {
    {"°C", "temperature"}, {"%", "humidity"}, {"V", "voltage"}};

// The component an item of the built-in plant is announced as.
std::string ComponentOf(const std::string& item) {
  if (item.starts_with("DI")) return "binary_sensor";
  if (item.starts_with("DO")) return "switch";
  return "sensor";
}

// The discovery configs received since `since`, by their state topic.
std::map<std::string, std::pair<std::string, Json>> Configs(const std::vector<Received>& all,
                                                            MqttProbe::Clock::time_point since) {
  std::map<std::string, std::pair<std::string, Json>> configs;
  for (const Received& m : all)
    if (m.at >= since && m.topic.ends_with("/config") && !m.payload.empty()) {
      const Json config = Json::parse(m.payload);
      configs[config["state_topic"]] = {m.topic, config};
    }
  return configs;
}

TEST(Gateway, AnnouncesEachItemToHomeAssistantAndAgainWhenItComesBack) {
  TempDir dir;
  Broker broker(dir);
  Sim sim(dir, "sim");
  std::ifstream builtIn(BUILTIN_PLANT_PATH);
  const Json classes = Json::parse(builtIn)["classes"];
  MqttProbe discovery(broker.port(), "homeassistant/#");
  MqttProbe probe(broker.port(), "test/#");
  // A config left by an item since removed from the plant.
  // The node id: the client id, made fit for a topic level.
  std::string node = ClientId("gateway");
  for (char& c : node)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
  const std::string gone = "homeassistant/sensor/" + node + "/a_TA9_0_0/config";
  discovery.Publish(gone, R"({"state_topic": "test/a/TA9.0.0"})", true);
  ASSERT_TRUE(discovery.WaitFor([&](const auto& all) { return !all.empty(); }, 10s));
  Process gateway =
      StartGateway(dir, PlantText(broker.port(), Json::array({Line("a", sim.link(), classes)})));

  std::map<std::string, Json> items;  // by topic
  for (const Json& group : classes)
    for (const Json& item : group["items"]) {
      Json entry = item;
      entry["class"] = group["class"];
      items["test/a/" + item["item"].get<std::string>()] = entry;
    }
  auto announced = [&](MqttProbe::Clock::time_point since) {
    return [&, since](const std::vector<Received>& all) {
      const auto configs = Configs(all, since);
      return std::all_of(items.begin(), items.end(),
                         [&](const auto& item) { return configs.contains(item.first); }) &&
             configs.contains(StatusTopic("gateway")) && configs.contains("test/a/status");
    };
  };
  ASSERT_TRUE(discovery.WaitFor(announced({}), 20s)) << gateway.err();
  EXPECT_TRUE(discovery.WaitFor(Says(gone, ""), 10s)) << "the stale config is cleared";

  std::set<std::string> uniqueIds;
  for (const auto& [topic, config] : Configs(discovery.received(), {})) {
    if (config.first == gone) continue;
    EXPECT_TRUE(uniqueIds.insert(config.second.value("unique_id", "")).second) << config.first;
    if (!items.contains(topic)) continue;
    const Json& item = items[topic];
    const std::string component = ComponentOf(item["item"]);
    Json c = config.second;  // a key missing reads as null
    EXPECT_TRUE(config.first.starts_with("homeassistant/" + component + "/" + node + "/"))
        << config.first;
    for (const ComponentKeys& keys : kComponents) {
      if (component != keys.component) continue;
      std::vector<const char*> all = kEveryEntity;
      all.insert(all.end(), keys.keys.begin(), keys.keys.end());
      for (const char* key : all) EXPECT_TRUE(c.contains(key)) << topic << " has no " << key;
    }
    EXPECT_EQ(c["availability_mode"], "all");
    std::vector<std::string> availability;
    for (const Json& a : c["availability"]) availability.push_back(a["topic"]);
    EXPECT_EQ(availability,
              (std::vector<std::string>{StatusTopic("gateway"), "test/a/status", topic}));
    EXPECT_EQ(c["device"]["model"], item["class"]);
    EXPECT_EQ(c["device"]["via_device"], node);
    if (component == "switch") {
      EXPECT_EQ(c["command_topic"], topic + "/set");
    }
    for (const auto& [unit, deviceClass] : kDeviceClasses)
      if (item.value("unit", "") == unit) {
        EXPECT_EQ(c["device_class"], deviceClass) << topic;
      }
  }

  // Home Assistant restarted: the configs again, then the states.
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DI4.0", true), 20s)) << gateway.err();
  const auto back = MqttProbe::Clock::now();
  discovery.Publish("homeassistant/status", "online");
  EXPECT_TRUE(discovery.WaitFor(announced(back), 20s)) << gateway.err();
  EXPECT_TRUE(probe.WaitFor(Says("test/a/status", "online", back), 10s));
}

// A connection to the loopback address's port, or -1.
int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  const timeval limit{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

void Send(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return;  // the server has had enough
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
}

// The status line the server answers `request` with ("" for none).
std::string StatusLine(int port, const std::string& request) {
  const int fd = Connect(port);
  Send(fd, request);
  std::string answer;
  char buffer[512];
  for (ssize_t got;
       answer.find("\r\n") == std::string::npos && (got = recv(fd, buffer, sizeof buffer, 0)) > 0;)
    answer.append(buffer, static_cast<size_t>(got));
  close(fd);
  return answer.substr(0, answer.find("\r\n"));
}

// What the HTTP endpoint answers, whatever it is sent.
struct HttpRequestCase {
  std::string request;
  const char* status;
};

const HttpRequestCase kHttpRequests[] = {
    {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK"},
    {"GET /health HTTP/1.0\r\n\r\n", "HTTP/1.1 200 OK"},
    {"GET /nothing HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404 Not Found"},
    {"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}", "HTTP/1.1 404 Not Found"},
    {"BREW /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 400 Bad Request"},
    {"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n" +
         std::string(100000, 'x'),
     "HTTP/1.1 413 Payload Too Large"},
    {"GET /metrics HTTP/1.1\r\nHost: x\r\nX-Long: " + std::string(20000, 'x') + "\r\n\r\n",
     "HTTP/1.1 400 Bad Request"},
    {std::string("\xff\xfe\x00\r\n\r\n", 7), "HTTP/1.1 400 Bad Request"},
};

TEST(Gateway, ClientsThatSendNothingOrSlowlyDoNotHoldUpAScrape) {
  TempDir dir;
  Sim sim(dir, "sim", kPumpStation);
  Process gateway(
      {kGateway,
       dir.Write("gateway.json",
                 Json{{"lines", Json::array({Line("a", sim.link(), kPumpItems)})}}.dump()),
       "--http", "127.0.0.1:0"});
  const int port = MetricsPort(gateway);
  ASSERT_NE(port, 0);
  for (const HttpRequestCase& c : kHttpRequests)
    EXPECT_EQ(StatusLine(port, c.request), c.status) << c.request.substr(0, 40);

  // More clients than the workers with half a request each, waiting; one
  // that sends a byte at a time.
  std::vector<int> idle;
  for (int i = 0; i < 40; ++i) {
    idle.push_back(Connect(port));
    Send(idle.back(), "GET /metrics HTTP/1.1\r\nHost: x\r\n");
  }
  std::atomic<bool> done = false;
  std::thread slow([&] {
    const int fd = Connect(port);
    for (char c : std::string("GET /health HTTP/1.1\r\nHost: x\r\n\r\n")) {
      if (done) break;
      Send(fd, std::string_view(&c, 1));
      std::this_thread::sleep_for(200ms);
    }
    close(fd);
  });
  std::this_thread::sleep_for(100ms);
  const auto began = std::chrono::steady_clock::now();
  httplib::Client http("127.0.0.1", port);
  const auto scraped = http.Get("/metrics");
  const auto took = std::chrono::steady_clock::now() - began;
  done = true;
  slow.join();
  for (int fd : idle) close(fd);
  ASSERT_TRUE(scraped) << gateway.err();
  EXPECT_EQ(scraped->status, 200);
  EXPECT_NE(scraped->body.find("tarvo_exchanges_total"), std::string::npos);
  EXPECT_LT(took, 2s) << std::chrono::duration<double>(took).count() << " s";
  EXPECT_EQ(gateway.Wait(0ms), std::nullopt);
}

// The subscriptions of the set topics: one filter per depth, none overlapping.
struct SubscriptionCase {
  std::string prefix;
  std::vector<std::string> setTopics;
  std::vector<std::string> filters;
};

// The gateway's JSON API: its port from the log ("metrics on
// http://ADDRESS:PORT/metrics", or https).
int ApiPort(Process& gateway) {
  EXPECT_TRUE(gateway.WaitForError("/metrics\n", 10s)) << gateway.err();
  std::smatch match;
  const std::string err = gateway.err();
  if (!std::regex_search(err, match, std::regex(R"(https?://[^ ]+:(\d+)/metrics)"))) return 0;
  return std::stoi(match[1]);
}

// An event stream of the API on a connection of its own: whether what it
// has sent holds `part` within `limit` (it reads on until then).
class EventStream {
 public:
  explicit EventStream(int port) : fd_(Connect(port)) {
    Send(fd_, "GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n");
  }
  ~EventStream() { close(fd_); }
  bool Holds(const std::string& part, std::chrono::milliseconds limit) {
    char buffer[4096];
    for (const auto end = std::chrono::steady_clock::now() + limit;
         text_.find(part) == std::string::npos;) {
      const ssize_t got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got > 0) text_.append(buffer, static_cast<size_t>(got));
      if (got <= 0 && std::chrono::steady_clock::now() > end) return false;
      if (got <= 0) std::this_thread::sleep_for(20ms);
    }
    return true;
  }

 private:
  int fd_;
  std::string text_;
};

TEST(GatewayApi, ServesThePlantItsLiveEventsAndAWriteThroughTheLine) {
  TempDir dir;
  Sim sim(dir, "sim", "", {"-v"});
  std::ifstream builtIn(BUILTIN_PLANT_PATH);
  const Json classes = Json::parse(builtIn)["classes"];
  Process gateway = StartGateway(dir, Json{{"http", {{"writes", true}}},
                                           {"lines", Json::array({Line("a", sim.link(), classes)})}}
                                          .dump());
  const int port = ApiPort(gateway);
  httplib::Client http("127.0.0.1", port);
  EventStream events(port);
  ASSERT_TRUE(events.Holds("event: hello\ndata: {\"seq\": ", 10s));

  // Every item once read, in plant order under its line and module.
  Json plant;
  auto allFresh = [&] {
    const auto got = http.Get("/api/plant");
    if (!got || got->status != 200) return false;
    plant = Json::parse(got->body);
    for (const Json& module : plant["lines"][0]["modules"])
      for (const Json& item : module["items"])
        if (item["state"] != "fresh") return false;
    return true;
  };
  for (int i = 0; i < 300 && !allFresh(); ++i) std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(allFresh()) << plant.dump() << gateway.err();
  const Json& gatewayState = plant["gateway"];
  EXPECT_EQ(gatewayState["broker"], "none");
  EXPECT_EQ(gatewayState["writes"], true);
  EXPECT_EQ(gatewayState["auth"], "none");
  EXPECT_FALSE(gatewayState["version"].get<std::string>().empty());
  ASSERT_EQ(plant["lines"].size(), 1u);
  const Json& line = plant["lines"][0];
  EXPECT_EQ(line["name"], "a");
  EXPECT_EQ(line["port"], sim.link());
  EXPECT_EQ(line["state"], "open");
  EXPECT_EQ(line["down_since"], nullptr);
  EXPECT_EQ(line["reopen_attempts"], 0);
  std::map<std::string, Json> items;
  ASSERT_EQ(line["modules"].size(), classes.size());
  for (size_t m = 0; m < classes.size(); ++m) {
    const Json& module = line["modules"][m];
    EXPECT_EQ(module["module"], m + 1);
    EXPECT_EQ(module["failures"], 0);
    ASSERT_EQ(module["items"].size(), classes[m]["items"].size());
    for (size_t i = 0; i < module["items"].size(); ++i) {
      const Json& item = module["items"][i];
      EXPECT_EQ(item["address"], classes[m]["items"][i]["item"]);
      EXPECT_EQ(item["id"], "a/" + item["address"].get<std::string>());
      EXPECT_EQ(item["text"], item["value"].dump());
      EXPECT_EQ(item["code"], 0);
      EXPECT_EQ(item["error"], nullptr);
      items[item["address"]] = item;
    }
  }
  EXPECT_EQ(line["modules"][3]["class"], "pxr5700");
  for (const Expected& e : kBuiltInValues) {
    EXPECT_GE(items[e.item]["value"].get<double>(), e.min) << e.item;
    EXPECT_LE(items[e.item]["value"].get<double>(), e.max) << e.item;
    EXPECT_EQ(items[e.item]["unit"], e.unit) << e.item;
  }
  const std::tuple<const char*, const char*, bool> kinds[] = {{"TA1.0.0", "analog", false},
                                                              {"DI4.0", "di", false},
                                                              {"DO4.2", "do", true},
                                                              {"DI5.2.0.1", "di", false},
                                                              {"DO5.2.0.4", "do", true}};
  for (const auto& [item, kind, writable] : kinds) {
    EXPECT_EQ(items[item]["kind"], kind) << item;
    EXPECT_EQ(items[item]["writable"], writable) << item;
  }
  EXPECT_EQ(items["DO4.2"]["name"], "valve");
  EXPECT_TRUE(events.Holds("event: item\ndata: {\"id\":\"a/TA1.0.0\",", 10s));

  // A write switches the output: the module receives the command; the
  // answer and the event tell it written.
  const auto written = http.Post("/api/write", R"({"item": "a/DO4.2", "value": "off", "id": "w1"})",
                                 "application/json");
  ASSERT_TRUE(written);
  EXPECT_EQ(written->status, 200);
  const std::string outcome =
      R"({"id":"w1","item":"a/DO4.2","state":"written","error":null,"code":0,"gloss":null})";
  EXPECT_EQ(written->body, outcome + "\n");
  EXPECT_TRUE(sim.Printed("<- 2f 30 34 00 0d", 10s)) << "/04, outputs 00";
  EXPECT_TRUE(events.Holds("event: write\ndata: " + outcome + "\n\n", 10s));

  // Event streams hold a worker each: past their number they are refused,
  // and the metrics and the health still answer.
  std::vector<int> streams;
  const std::string get = "GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n";
  for (size_t i = 1; i < tools::EventHub::kMostReaders; ++i) {
    streams.push_back(Connect(port));
    Send(streams.back(), get);
  }
  // Each has its stream once its answer has begun.
  for (int fd : streams) {
    std::string head;
    char c;
    while (!head.ends_with("\r\n") && recv(fd, &c, 1, 0) == 1) head += c;
    ASSERT_EQ(head, "HTTP/1.1 200 OK\r\n");
  }
  EXPECT_EQ(StatusLine(port, get), "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(StatusLine(port, "GET /health HTTP/1.1\r\nHost: x\r\n\r\n"), "HTTP/1.1 200 OK");
  EXPECT_EQ(StatusLine(port, "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n"), "HTTP/1.1 200 OK");
  // Their readers gone, their places are free again within a few seconds.
  for (int fd : streams) close(fd);
  std::string again;
  for (int i = 0; i < 30 && again != "HTTP/1.1 200 OK"; ++i, std::this_thread::sleep_for(100ms))
    again = StatusLine(port, get);
  EXPECT_EQ(again, "HTTP/1.1 200 OK");
}

// What a write over the API is answered with, by a gateway as its plant
// sets it: "open" writes on loopback, its line up (DI4.0, DO4.2); "off"
// with writes off; "net" beyond loopback over HTTPS with a token and a
// user, its line down.
struct ApiWriteCase {
  const char* gateway;
  std::string body;
  std::vector<std::string> headers;  // curl's -H; none: Content-Type: application/json
  int status;
  const char* answer;  // JSON: the fields the answer has (all of them for an error)
};

const std::string kOff = R"({"item": "a/DO4.2", "value": 0, "id": "w"})";
const std::string kOn = R"({"item": "a/DO4.2", "value": "on", "id": "w"})";
const char kJson[] = "Content-Type: application/json";
const char kLineDown[] = R"-({"id":"w","item":"a/DO4.2","state":"refused","error":"(line down)"})-";
const char kNeedsAuth[] =
    R"({"error":"a write needs this gateway's token (Authorization: Bearer TOKEN) or a user and password of this gateway"})";

const ApiWriteCase kApiWrites[] = {
    {"off",
     kOff,
     {},
     403,
     R"({"error":"writes are off: the plant file turns them on with \"http\": {\"writes\": true}"})"},
    {"open",
     kOff,
     {kJson, "Origin: http://elsewhere.example"},
     403,
     R"({"error":"a write from the page of http://elsewhere.example is refused: this gateway is 127.0.0.1:{port}"})"},
    // A name of the writer's choosing pointed at this machine.
    {"open",
     kOff,
     {kJson, "Host: plant.example:{port}", "Origin: http://plant.example:{port}"},
     403,
     R"({"error":"a write without a token is taken only when sent to 127.0.0.1 or localhost, not to plant.example:{port}"})"},
    {"open",
     kOff,
     {"Content-Type: text/plain"},
     415,
     R"({"error":"a write is sent as Content-Type: application/json"})"},
    {"open",
     kOff,
     {"Content-Type: application/x-www-form-urlencoded"},
     415,
     R"({"error":"a write is sent as Content-Type: application/json"})"},
    {"open",
     "value=1",
     {},
     400,
     R"({"error":"the body is not a JSON object {\"item\": \"LINE/ITEM\", \"value\": 0 or 1}"})"},
    {"open",
     R"({"item": "a/DO4.2", "value": 2})",
     {},
     400,
     R"({"error":"\"2\" is not a value to write"})"},
    {"open",
     R"({"item": "a/DO4.2", "value": 1, "at": 3})",
     {},
     400,
     R"({"error":"a write has \"item\", \"value\" and \"id\", not \"at\""})"},
    {"open", R"({"item": "a/DO4.7", "value": 1})", {}, 404, R"({"error":"no item \"a/DO4.7\""})"},
    {"open",
     R"({"item": "a/DI4.0", "value": 1, "id": "r"})",
     {},
     409,
     R"({"id":"r","item":"a/DI4.0","state":"refused","error":"not an output","code":null,
         "gloss":"register DI is read only: only an output can be set"})"},
    {"open",
     kOff,
     {kJson, "Origin: http://127.0.0.1:{port}"},
     200,
     R"({"id":"w","item":"a/DO4.2","state":"written","error":null,"code":0,"gloss":null})"},
    {"net", kOn, {}, 401, kNeedsAuth},
    {"net", kOn, {kJson, "Authorization: Bearer s3cre"}, 401, kNeedsAuth},
    {"net", kOn, {kJson, "Authorization: Basic YW5uOnB3Mg=="}, 401, kNeedsAuth},  // ann:pw2
    {"net", kOn, {kJson, "Authorization: Bearer s3cret"}, 503, kLineDown},
    {"net", kOn, {kJson, "Authorization: Basic YW5uOnB3MQ=="}, 503, kLineDown},  // ann:pw1
};

TEST(GatewayApi, WritesOnlyWhenOnAuthorisedFromItsOwnPagesAndToAnOutput) {
  TempDir dir;
  Sim sim(dir, "sim", kValveStation);
  const std::string certificate = dir.path() + "/cert.pem";
  const std::string key = dir.path() + "/key.pem";
  const RunResult made =
      RunProgram({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                  "-subj", "/CN=localhost", "-keyout", key, "-out", certificate});
  ASSERT_EQ(made.status, 0) << made.err;
  const Json open = Json::array({Line("a", sim.link(), kValveItems)});
  const Json down = Json::array({Line("a", dir.path() + "/none", kValveItems)});
  const Json net = {{"address", "0.0.0.0"},
                    {"port", 0},
                    {"writes", true},
                    {"token_file", dir.Write("token", "s3cret\n")},
                    {"users_file", dir.Write("users", "ann:pw1\n")},
                    {"tls", {{"certificate", certificate}, {"key", key}}}};
  // Writes open to the network with neither token nor user, a certificate
  // that cannot be used: refused at start.
  const std::pair<Json, std::string> refused[] = {
      {{{"address", "0.0.0.0"}, {"writes", true}},
       "HTTP on 0.0.0.0: writes over the network need a token or users"},
      {{{"tls", {{"certificate", key}, {"key", key}}}},
       "HTTPS: cannot use the certificate " + key + " with the key " + key},
  };
  for (const auto& [http, message] : refused) {
    const RunResult run = RunProgram(
        {kGateway, dir.Write("refused.json", Json{{"http", http}, {"lines", down}}.dump())}, 10s);
    EXPECT_EQ(run.status, 2) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }

  std::map<std::string, Process> gateways;
  gateways.try_emplace(
      "open",
      std::vector<std::string>{
          kGateway,
          dir.Write("open.json", Json{{"http", {{"writes", true}}}, {"lines", open}}.dump()),
          "--http", "127.0.0.1:0"});
  gateways.try_emplace(
      "off", std::vector<std::string>{kGateway, dir.Write("off.json", Json{{"lines", down}}.dump()),
                                      "--http", "127.0.0.1:0"});
  gateways.try_emplace(
      "net", std::vector<std::string>{
                 kGateway, dir.Write("net.json", Json{{"http", net}, {"lines", down}}.dump())});
  std::map<std::string, std::string> urls;
  for (auto& [name, gateway] : gateways)
    urls[name] =
        fmt::format("{}://127.0.0.1:{}/api/", name == "net" ? "https" : "http", ApiPort(gateway));
  const int openPort = std::stoi(urls["open"].substr(urls["open"].rfind(':') + 1));
  httplib::Client http("127.0.0.1", openPort);
  auto up = [&] {
    const auto got = http.Get("/api/plant");
    return got && Json::parse(got->body)["lines"][0]["modules"][0]["items"][1]["state"] == "fresh";
  };
  for (int i = 0; i < 100 && !up(); ++i) std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(up()) << gateways.at("open").err();

  // Over HTTPS the plant reads without a token; its line is down.
  const RunResult read = RunProgram({"/usr/bin/curl", "-sk", urls["net"] + "plant"}, 10s);
  ASSERT_EQ(read.status, 0) << read.err;
  const Json netPlant = Json::parse(read.out);
  EXPECT_EQ(netPlant["gateway"]["auth"], "token");
  EXPECT_EQ(netPlant["lines"][0]["state"], "down");
  EXPECT_GE(netPlant["lines"][0]["reopen_attempts"], 1);
  EXPECT_NE(netPlant["lines"][0]["down_since"], nullptr);
  EXPECT_EQ(netPlant["lines"][0]["modules"][0]["items"][0]["state"], "failed");

  for (const ApiWriteCase& c : kApiWrites) {
    auto withPort = [&](std::string text) {
      const size_t at = text.find("{port}");
      return at == std::string::npos ? text : text.replace(at, 6, std::to_string(openPort));
    };
    std::vector<std::string> argv{"/usr/bin/curl", "-sk", "-w", "\n%{http_code}", "-d", c.body};
    for (const std::string& header :
         c.headers.empty() ? std::vector<std::string>{kJson} : c.headers) {
      argv.push_back("-H");
      argv.push_back(withPort(header));
    }
    argv.push_back(urls[c.gateway] + "write");
    const RunResult run = RunProgram(argv, 10s);
    const std::string context = std::string(c.gateway) + " " + c.body;
    ASSERT_EQ(run.status, 0) << context << run.err;
    const size_t split = run.out.rfind('\n');
    EXPECT_EQ(std::stoi(run.out.substr(split + 1)), c.status) << context << run.out;
    const Json answer = Json::parse(run.out.substr(0, split), nullptr, false);
    const Json expected = Json::parse(withPort(c.answer));
    for (const auto& [field, value] : expected.items())
      EXPECT_EQ(answer[field], value) << context << " " << field;
  }
  // The write that went through is on the line's next read.
  auto reads = [&](int value) {
    const auto got = http.Get("/api/plant");
    return got && Json::parse(got->body)["lines"][0]["modules"][0]["items"][1]["value"] == value;
  };
  for (int i = 0; i < 100 && !reads(0); ++i) std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(reads(0));
}

// A broker on a loopback port that takes one client's connection and
// acknowledges nothing it publishes.
class SilentBroker {
 public:
  SilentBroker() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(listen(listener_, 1), 0);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      const int client = accept(listener_, nullptr, nullptr);
      if (client < 0) return;
      char bytes[4096];
      for (bool connected = false; recv(client, bytes, sizeof bytes, 0) > 0; connected = true)
        if (!connected) Send(client, std::string_view("\x20\x03\x00\x00\x00", 5));  // CONNACK
      close(client);
    });
  }
  ~SilentBroker() {
    shutdown(listener_, SHUT_RDWR);  // an accept still waiting returns
    thread_.join();
    close(listener_);
  }
  int port() const { return port_; }

 private:
  int listener_ = socket(AF_INET, SOCK_STREAM, 0);
  int port_ = 0;
  std::thread thread_;
};

// A link to the broker on 127.0.0.1:`port` (prefix "test", client id
// "link"), once connected; null if it does not connect within 10 s.
std::unique_ptr<tools::MqttLink> ConnectedLink(int port) {
  tools::MqttSettings settings;
  settings.host = "127.0.0.1";
  settings.port = port;
  settings.prefix = "test";
  settings.clientId = "link";
  auto up = std::make_shared<std::promise<void>>();
  auto once = std::make_shared<std::once_flag>();
  std::future<void> connected = up->get_future();
  auto link = std::make_unique<tools::MqttLink>(
      settings, std::vector<std::string>{},
      [](const std::string&, std::string_view, bool, const tools::WriteReply&) {},
      [up, once](bool connection) {
        if (connection) std::call_once(*once, [&] { up->set_value(); });
      });
  std::string error;
  if (!link->Start(&error) || connected.wait_for(10s) != std::future_status::ready) return nullptr;
  return link;
}

// Published messages waiting for the broker's acknowledgement are kept in
// memory: a publisher waits for room past a thousand of them; for a broker
// that acknowledges nothing, a second and then again only at twice as many.
TEST(GatewayMqtt, APublisherWaitsForRoomButNotForABrokerThatAcknowledgesNothing) {
  SilentBroker broker;
  const std::unique_ptr<tools::MqttLink> link = ConnectedLink(broker.port());
  ASSERT_TRUE(link);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3000; ++i) link->Publish("test/" + std::to_string(i), "1", false);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 1900ms) << "the thousandth and the two-thousandth wait for room";
  EXPECT_LT(took, 10s) << "and the others do not: nothing is acknowledged";
}

// On a new connection a retained message waits for what is published
// again first: dropped until the connection's announcement, which a
// stale connection's cannot make.
TEST(GatewayMqtt, RetainedMessagesGoOutOnlyOnceTheConnectionIsAnnounced) {
  TempDir dir;
  Broker broker(dir);
  MqttProbe probe(broker.port(), "test/#");
  const std::unique_ptr<tools::MqttLink> connected = ConnectedLink(broker.port());
  ASSERT_TRUE(connected);
  tools::MqttLink& link = *connected;
  ASSERT_TRUE(probe.WaitFor(Says("test/gateway/link/status", "online"), 10s));
  EXPECT_EQ(link.connection(), 1u);
  link.Publish("test/early", "1", true);
  link.Publish("test/answer", "1", false);
  link.PublishAgain("test/again", "1");
  link.Announced(0);
  link.Publish("test/stale", "1", true);
  link.Announced(1);
  link.Publish("test/late", "1", true);
  ASSERT_TRUE(probe.WaitFor(Says("test/late", "1"), 10s));
  std::vector<std::string> heard;
  for (const auto& m : probe.received())
    if (m.topic != "test/gateway/link/status") heard.push_back(m.topic);
  EXPECT_EQ(heard, (std::vector<std::string>{"test/answer", "test/again", "test/late"}));
}

// A reload keeps a line running when the new plant says the same of it;
// where its items stand in the file may change.
TEST(GatewayReload, KeepsALineOnlyWhenTheFileSaysTheSameOfIt) {
  auto line = [] {
    tools::GatewayLine l;
    l.name = "a";
    l.options.port = "COM1";
    l.options.groups = {
        {"pxr5700", {{"DI4.0", "pump", "", "", {}}, {"DO4.1", "", "", "valve", {}}}, {"DO4.2=1"}}};
    return l;
  };
  struct Change {
    const char* what;
    std::function<void(tools::GatewayLine&)> change;
    bool kept;
  };
  auto item = [](tools::GatewayLine& l) -> tools::ItemSpec& {
    return l.options.groups[0].items[0];
  };
  const Change changes[] = {
      {"nothing", [](tools::GatewayLine&) {}, true},
      {"where an item stands", [&](tools::GatewayLine& l) { item(l).where.line = 7; }, true},
      {"an item's address", [&](tools::GatewayLine& l) { item(l).address = "DI4.1"; }, false},
      {"an item's name", [&](tools::GatewayLine& l) { item(l).name = "pumps"; }, false},
      {"an item's unit", [&](tools::GatewayLine& l) { item(l).unit = "on"; }, false},
      {"an item's topic", [&](tools::GatewayLine& l) { item(l).topic = "pump"; }, false},
      {"a name become a unit",
       [&](tools::GatewayLine& l) { item(l).unit = std::exchange(item(l).name, ""); }, false},
      {"a name split with the unit",
       [&](tools::GatewayLine& l) {
         item(l).name = "pu";
         item(l).unit = "mp";
       },
       false},
      {"an item more",
       [](tools::GatewayLine& l) {
         l.options.groups[0].items.push_back({"DI4.2", "", "", "", {}});
       },
       false},
      {"a write", [](tools::GatewayLine& l) { l.options.groups[0].writes = {"DO4.2=0"}; }, false},
      {"the class", [](tools::GatewayLine& l) { l.options.groups[0].className = "Cpxr5700"; },
       false},
      {"the baud", [](tools::GatewayLine& l) { l.options.baud = 19200; }, false},
      {"the publishing", [](tools::GatewayLine& l) { l.publish.onChange = true; }, false},
  };
  tools::GatewayLine running = line();
  const tools::RunningLine before = tools::Running(running);
  for (const Change& c : changes) {
    tools::GatewayLine next = line();
    c.change(next);
    const tools::GatewayLine given = next;
    EXPECT_EQ(tools::Running(next) == before, c.kept) << c.what;
    EXPECT_EQ(next, given) << c.what << ": the line is given back as it was";
  }
}

TEST(GatewaySetTopics, OneFilterPerDepthOfTheItemsTopics) {
  const SubscriptionCase cases[] = {
      {"tarvo", {"tarvo/a/DO4.2/set", "tarvo/a/DI4.0/set"}, {"tarvo/+/+/set"}},
      {"tarvo", {"tarvo/a/pump/flow/set"}, {"tarvo/+/+/set", "tarvo/+/+/+/set"}},
      {"site/tarvo",
       {"site/tarvo/a/x/y/z/set", "site/tarvo/b/DO1/set"},
       {"site/tarvo/+/+/set", "site/tarvo/+/+/+/+/set"}},
      {"tarvo", {}, {"tarvo/+/+/set"}},
  };
  for (const SubscriptionCase& c : cases)
    EXPECT_EQ(tools::SetSubscriptions(c.prefix, c.setTopics), c.filters) << c.prefix;
}

// The plant over Modbus TCP, to mbpoll and to libmodbus's client: the
// registers hold what MQTT publishes, a coil write switches the module's
// output, mistakes get their exceptions, a down line says so, and eight
// clients at once are all answered.
int ModbusPort(Process& gateway) {
  EXPECT_TRUE(gateway.WaitForError("Modbus TCP on", 10s)) << gateway.err();
  std::smatch match;
  const std::string err = gateway.err();
  if (!std::regex_search(err, match, std::regex(R"(Modbus TCP on 127\.0\.0\.1:(\d+))"))) return 0;
  return std::stoi(match[1]);
}

// A libmodbus client of one unit.
class ModbusClient {
 public:
  ModbusClient(int port, int unit) : context_(modbus_new_tcp("127.0.0.1", port)) {
    modbus_set_slave(context_, unit);
    connected_ = modbus_connect(context_) == 0;
  }
  ~ModbusClient() {
    modbus_close(context_);
    modbus_free(context_);
  }
  bool connected() const { return connected_; }
  // The registers, or the errno of the exception.
  std::variant<std::vector<uint16_t>, int> Registers(int first, int count) {
    std::vector<uint16_t> words(static_cast<size_t>(count));
    if (modbus_read_input_registers(context_, first, count, words.data()) != count) return errno;
    return words;
  }
  std::optional<int> Bit(int function, int address) {
    uint8_t bit = 0;
    const int got = function == 1 ? modbus_read_bits(context_, address, 1, &bit)
                                  : modbus_read_input_bits(context_, address, 1, &bit);
    return got == 1 ? std::optional<int>(bit) : std::nullopt;
  }
  modbus_t* get() { return context_; }

 private:
  modbus_t* context_;
  bool connected_ = false;
};

std::string Mbpoll(int port, const std::vector<std::string>& options) {
  std::vector<std::string> argv{"/usr/bin/mbpoll", "-m", "tcp", "-p", std::to_string(port), "-0"};
  argv.insert(argv.end(), options.begin(), options.end());
  const RunResult run = RunProgram(argv, 10s);
  return run.out + run.err;
}

TEST(GatewayModbus, ServesThePlantToModbusClientsAndWritesCoilsThroughTheLine) {
  TempDir dir;
  Broker broker(dir);
  Sim sim(dir, "sim", R"({"modules": [{"family": "pxr5700", "address": 4, "inputs": 1,
    "outputs": 4, "temperatures": [{"channel": 1, "ta": 38.5}]}]})",
          {"-v"});
  MqttProbe probe(broker.port(), "test/#");
  // Line b never opens. DI6.0's module does not answer.
  const Json items = Json::parse(R"([{"class": "pxr5700", "items": [
    {"item": "TA4.1", "unit": "°C"}, {"item": "DI4.0", "modbus": 20}, {"item": "DO4.2"},
    {"item": "DI6.0"}]}])");
  Json plant = Json::parse(PlantText(
      broker.port(),
      Json::array({Line("a", sim.link(), items), Line("b", dir.path() + "/none", items)})));
  plant["modbus"] = {{"port", 0}, {"units", {{"a", 3}}}};
  Process gateway = StartGateway(dir, plant.dump());
  const int port = ModbusPort(gateway);
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DO4.2", true), 20s)) << gateway.err();
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DI6.0", false), 20s)) << gateway.err();
  ASSERT_TRUE(probe.WaitFor(Reads("test/b/DO4.2", false), 20s)) << gateway.err();

  // Unit 3 (line a): its state, then each item's float, status and age;
  // DI4.0 at 20, the others in their blocks of four from 1.
  ModbusClient a(port, 3);
  ASSERT_TRUE(a.connected());
  const auto words = std::get<std::vector<uint16_t>>(a.Registers(0, 13));
  EXPECT_EQ(words[0], 1) << "the line is open";
  EXPECT_EQ(modbus_get_float_abcd(&words[1]), LastJson(probe, "test/a/TA4.1")->at("value"));
  EXPECT_EQ(words[3], 0) << "fresh";
  EXPECT_LE(words[4], 2) << "seconds old";
  EXPECT_EQ(modbus_get_float_abcd(&words[5]), 1.0f) << "DO4.2";
  EXPECT_TRUE(std::isnan(modbus_get_float_abcd(&words[9]))) << "DI6.0";
  EXPECT_EQ(words[11], LastJson(probe, "test/a/DI6.0")->at("code"));
  const auto di = std::get<std::vector<uint16_t>>(a.Registers(20, 4));
  EXPECT_EQ(modbus_get_float_abcd(&di[0]), 1.0f);
  EXPECT_EQ(a.Bit(2, 20), LastJson(probe, "test/a/DI4.0")->at("value").get<int>());
  EXPECT_EQ(a.Bit(1, 5), LastJson(probe, "test/a/DO4.2")->at("value").get<int>());
  EXPECT_EQ(a.Bit(1, 5), 1);
  // mbpoll reads the same.
  EXPECT_NE(
      Mbpoll(port, {"-a", "3", "-1", "-t", "3:float", "-B", "-r", "1", "-c", "1", "127.0.0.1"})
          .find("[1]: \t38.5"),
      std::string::npos);
  EXPECT_NE(Mbpoll(port, {"-a", "3", "-1", "-t", "1", "-r", "20", "127.0.0.1"}).find("[20]: \t1"),
            std::string::npos);

  // Exceptions: an address outside the map (or a range reaching one), a
  // function not served, a unit that is no line's.
  struct Refusal {
    std::function<int()> request;
    int error;
  };
  uint16_t word = 0;
  uint8_t bit = 0;
  const Refusal refusals[] = {
      {[&] { return modbus_read_input_registers(a.get(), 24, 1, &word); }, EMBXILADD},
      {[&] { return modbus_read_input_registers(a.get(), 0, 14, &word); }, EMBXILADD},
      {[&] { return modbus_read_bits(a.get(), 4, 1, &bit); }, EMBXILADD},
      {[&] { return modbus_write_bit(a.get(), 20, 1); }, EMBXILADD},
      {[&] { return modbus_read_registers(a.get(), 0, 1, &word); }, EMBXILFUN},
      {[&] { return modbus_write_register(a.get(), 5, 1); }, EMBXILFUN},
  };
  for (size_t r = 0; r < std::size(refusals); ++r) {
    EXPECT_EQ(refusals[r].request(), -1) << r;
    EXPECT_EQ(errno, refusals[r].error) << r << ": " << modbus_strerror(errno);
  }
  EXPECT_EQ(std::get<int>(ModbusClient(port, 9).Registers(0, 1)), EMBXGPATH);
  EXPECT_NE(Mbpoll(port, {"-a", "3", "-1", "-t", "3", "-r", "200", "127.0.0.1"})
                .find("Illegal data address"),
            std::string::npos);

  // Line b (unit 1, the first free) is down: state 0, the reason in each
  // status, writes refused.
  ModbusClient b(port, 1);
  const auto down = std::get<std::vector<uint16_t>>(b.Registers(0, 4));
  EXPECT_EQ(down[0], 0);
  EXPECT_TRUE(std::isnan(modbus_get_float_abcd(&down[1])));
  EXPECT_EQ(down[3], LastJson(probe, "test/b/TA4.1")->at("code"));
  EXPECT_EQ(modbus_write_bit(b.get(), 5, 0), -1);
  EXPECT_EQ(errno, EMBXSFAIL);

  // A coil written with mbpoll (function 5) switches the output: the
  // module receives the command, the coil and MQTT read it back; libmodbus
  // (function 15) switches it on again.
  EXPECT_NE(Mbpoll(port, {"-a", "3", "-t", "0", "-r", "5", "127.0.0.1", "0"})
                .find("Written 1 references."),
            std::string::npos);
  EXPECT_TRUE(probe.WaitFor([&](const auto&) { return a.Bit(1, 5) == 0; }, 20s));
  EXPECT_TRUE(sim.Printed("<- 2f 30 34 00 0d", 1s)) << "/04, outputs 00";
  EXPECT_EQ(LastJson(probe, "test/a/DO4.2")->at("value"), 0);
  const uint8_t on = 1;
  EXPECT_EQ(modbus_write_bits(a.get(), 5, 1, &on), 1);
  EXPECT_TRUE(probe.WaitFor([&](const auto&) { return a.Bit(1, 5) == 1; }, 20s));
  EXPECT_TRUE(sim.Printed("<- 2f 30 34 04 0d", 1s));

  // A client that stops in the middle of a request holds up no other; one
  // that does not speak Modbus TCP is disconnected.
  auto connectRaw = [&] {
    const int raw = socket(AF_INET, SOCK_STREAM, 0);
    const timeval limit{5, 0};
    setsockopt(raw, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(raw, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    return raw;
  };
  const int halfway = connectRaw();
  const int stranger = connectRaw();
  ASSERT_EQ(send(halfway, "\0\1\0\0\0", 5, 0), 5);
  ASSERT_EQ(send(stranger, "GET / HTTP/1.0\r\n\r\n", 18, 0), 18);
  EXPECT_TRUE(std::holds_alternative<std::vector<uint16_t>>(a.Registers(0, 1)));
  char answer[8];
  EXPECT_EQ(recv(stranger, answer, sizeof answer, 0), 0) << "closed";
  close(halfway);
  close(stranger);

  // Eight clients at once, each polling twenty times: all answered.
  std::atomic<int> answered = 0;
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c)
    clients.emplace_back([&] {
      ModbusClient client(port, 3);
      for (int i = 0; i < 20; ++i)
        if (std::holds_alternative<std::vector<uint16_t>>(client.Registers(0, 13))) ++answered;
    });
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(answered, 8 * 20);
}

struct ModbusMapCase {
  const char* modbus;  // the section
  const char* items;   // of line a's pxr5700
  const char* csv;     // without the heading
};

TEST(GatewayModbus, MapsItemsInPlantOrderAroundTheRegistersGiven) {
  const ModbusMapCase cases[] = {
      {R"({})", R"([{"item": "TA4.1", "name": "tank, top", "unit": "°C"}, {"item": "do4.2"}])",
       "a,1,,,,4,0,line_state,\n"
       "a,1,TA4.1,\"tank, top\",°C,4,1,float32,ABCD\na,1,TA4.1,\"tank, top\",°C,4,3,status,\n"
       "a,1,TA4.1,\"tank, top\",°C,4,4,age_seconds,\n"
       "a,1,do4.2,,,4,5,float32,ABCD\na,1,do4.2,,,4,7,status,\na,1,do4.2,,,4,8,age_seconds,\n"
       "a,1,do4.2,,,1,5,bit,\n"},
      {R"({"word_order": "CDAB", "units": {"a": 247}})",
       R"([{"item": "DI4.0"}, {"item": "DI4.1", "modbus": 3}, {"item": "DI4.2"}])",
       "a,247,,,,4,0,line_state,\n"
       "a,247,DI4.0,,,4,7,float32,CDAB\na,247,DI4.0,,,4,9,status,\n"
       "a,247,DI4.0,,,4,10,age_seconds,\na,247,DI4.0,,,2,7,bit,\n"
       "a,247,DI4.1,,,4,3,float32,CDAB\na,247,DI4.1,,,4,5,status,\n"
       "a,247,DI4.1,,,4,6,age_seconds,\na,247,DI4.1,,,2,3,bit,\n"
       "a,247,DI4.2,,,4,11,float32,CDAB\na,247,DI4.2,,,4,13,status,\n"
       "a,247,DI4.2,,,4,14,age_seconds,\na,247,DI4.2,,,2,11,bit,\n"},
  };
  for (const ModbusMapCase& c : cases) {
    const std::string text = R"({"modbus": )" + std::string(c.modbus) +
                             R"(, "lines": [{"line": "a", "port": "/dev/x", "classes": [
        {"class": "pxr5700", "items": )" +
                             c.items + "}]}]}";
    const tools::GatewayPlant plant = tools::ReadGatewayPlant(text, "plant.json");
    EXPECT_TRUE(plant.modbus.enabled);
    EXPECT_EQ(
        tools::ModbusMapCsv(plant.modbus),
        std::string("line,unit_id,item,name,unit,function,address,type,word_order\n") + c.csv);
  }
  uint16_t words[2];
  tools::PutFloat(38.5f, tools::WordOrder::kABCD, words);
  EXPECT_EQ(std::vector<uint16_t>(words, words + 2), (std::vector<uint16_t>{0x421A, 0x0000}));
  tools::PutFloat(38.5f, tools::WordOrder::kCDAB, words);
  EXPECT_EQ(std::vector<uint16_t>(words, words + 2), (std::vector<uint16_t>{0x0000, 0x421A}));
}

// Mistakes in a gateway plant file, each refused with where it stands.
struct PlantMistake {
  const char* text;
  const char* message;
};

const PlantMistake kPlantMistakes[] = {
    {"http: {writes: true, token_file: /none/token}\nlines: []\n",
     "plant.json:1:22: http.token_file: cannot read a token from the first line of /none/token"},
    {"http: {users_file: /dev/null}\nlines: []\n",
     "plant.json:1:8: http.users_file: /dev/null names no user"},
    {"http: {tls: {certificate: cert.pem}}\nlines: []\n",
     "plant.json:1:8: http.tls: missing key \"key\""},
    {R"({"lines": []})", "plant.json:1:2: lines: no lines to poll"},
    {R"({"lines": [{"line": "a/b", "port": "/dev/x", "classes": []}]})",
     "plant.json:1:13: lines[0].line: a line's name is one topic level: no /"},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "baud": 12345, "classes": []}]})",
     "plant.json:1:44: lines[0].baud: the library cannot set this rate; it sets 110, 300, 600, "
     "1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000"},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "classes": [
        {"class": "pxr9999", "items": [{"item": "TA1.0.0"}]}]}]})",
     "plant.json:2:10: lines[0].classes[0].class: not a class tarvo-gateway knows (see "
     "tarvo-poll --list)"},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "classes": [
        {"class": "pxr5700", "items": [{"item": "DI4.0"}, {"item": "TA4.1", "topic": "DI4.0"}]}]}]})",
     "plant.json:2:77: lines[0].classes[0].items[1].topic: the topic \"DI4.0\" is another "
     "item's on this line"},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "classes": [
        {"class": "pxr5700", "items": [{"item": "DI4.0"}]},
        {"class": "Cpxr5700", "items": [{"item": "DI4.0", "topic": "again"}]}]}]})",
     "plant.json:3:42: lines[0].classes[1].items[0].item: the item is on this line already"},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "classes": [
        {"class": "pxr5700", "items": [{"item": "DI4.0", "topic": "pumps/+"}]}]}]})",
     "plant.json:2:58: lines[0].classes[0].items[0].topic: a topic cannot hold the wildcards + "
     "or #"},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "classes": [{"class": "pxr5700", "items": [{"item": "DI4.0"}]}]},
                {"line": "b", "port": "/dev/x", "classes": [{"class": "pxr5700", "items": [{"item": "DI4.0"}]}]}]})",
     "plant.json:2:31: lines[1].port: the port is line \"a\"'s too"},
    {R"({"lines": [{"line": "a", "port": "COM5", "classes": [{"class": "pxr5700", "items": [{"item": "DI4.0"}]}]},
                {"line": "b", "port": "5", "classes": [{"class": "pxr5700", "items": [{"item": "DI4.0"}]}]}]})",
     "plant.json:2:31: lines[1].port: the port is line \"a\"'s too"},
    {R"({"mqtt": {"host": "h", "tls": {"ca_file": "ca", "cert_file": "c"}},
         "lines": [{"line": "a", "port": "/dev/x", "classes": [{"class": "pxr5700", "items": [{"item": "DI4.0"}]}]}]})",
     "plant.json:1:24: mqtt.tls: \"cert_file\" and \"key_file\" go together"},
    {"# YAML\nlines:\n  - line: a\n    port: /dev/x\n    baud: 12345   # too fast\n"
     "    classes: []\n",
     "plant.json:5:5: lines[0].baud: the library cannot set this rate; it sets 110, 300, 600, "
     "1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000"},
    {"mqtt: {host: h, port: \"1883\"}\nlines: []\n",
     "plant.json:1:17: mqtt.port: expected a whole number from 1 to 65535, found a text"},
    {"http: yes\nlines: []\n", "plant.json:1:1: http: expected an object {...}, found a text"},
    {"lines:\n  - line: a\n    port: /dev/x\n    line: b\n",
     "plant.json:4:5: lines[0].line: the object gives this key twice"},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "publish": "sometimes", "classes": [
        {"class": "pxr5700", "items": [{"item": "DI4.0"}]}]}]})",
     "plant.json:1:44: lines[0].publish: expected \"every_read\" or \"on_change\""},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "deadband": 0.5, "classes": [
        {"class": "pxr5700", "items": [{"item": "DI4.0"}]}]}]})",
     "plant.json:1:44: lines[0].deadband: this goes with \"publish\": \"on_change\""},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "publish": "on_change", "classes": [
        {"class": "pxr5700", "items": [{"item": "TA4.1", "publish": "every_read", "max_interval": 60}]}]}]})",
     "plant.json:2:83: lines[0].classes[0].items[0].max_interval: this goes with \"publish\": "
     "\"on_change\""},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "classes": [
        {"class": "pxr5700", "items": [{"item": "DI4.0", "topic": "status"}]}]}]})",
     "plant.json:2:58: lines[0].classes[0].items[0].topic: the topic \"status\" is the line's own "
     "status"},
    {R"({"discovery": {"node_id": "boiler room"}, "lines": []})",
     "plant.json:1:16: discovery.node_id: a node id is letters, digits, _ and - only"},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "classes": [{"class": "pxr5700", "items": [
        {"item": "DI4.0", "modbus": 10}, {"item": "DI4.1", "modbus": 12}]}]}]})",
     "plant.json:2:60: lines[0].classes[0].items[1].modbus: registers 12 to 15 "
     "overlap DI4.0's, 10 to 13"},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "classes": [{"class": "pxr5700", "items": [
        {"item": "DI4.0", "modbus": 0}]}]}]})",
     "plant.json:2:27: lines[0].classes[0].items[0].modbus: expected a whole number "
     "from 1 to 65532, found 0"},
    {R"({"modbus": {"word_order": "BADC"},
         "lines": [{"line": "a", "port": "/dev/x", "classes": [{"class": "pxr5700", "items": [{"item": "DI4.0"}]}]}]})",
     "plant.json:1:13: modbus.word_order: expected ABCD (the high word first) or CDAB"},
    {R"({"modbus": {"units": {"b": 1}},
         "lines": [{"line": "a", "port": "/dev/x", "classes": [{"class": "pxr5700", "items": [{"item": "DI4.0"}]}]}]})",
     "plant.json:1:23: modbus.units.b: unknown key; expected one of: a, comment"},
    {R"({"modbus": {"units": {"a": 2, "b": 2}},
         "lines": [{"line": "a", "port": "/dev/x", "classes": [{"class": "pxr5700", "items": [{"item": "DI4.0"}]}]},
                   {"line": "b", "port": "/dev/y", "classes": [{"class": "pxr5700", "items": [{"item": "DI4.0"}]}]}]})",
     "plant.json:1:31: modbus.units.b: the unit identifier 2 is another line's"},
    {R"({"modbus": {"units": {"a": 248}},
         "lines": [{"line": "a", "port": "/dev/x", "classes": [{"class": "pxr5700", "items": [{"item": "DI4.0"}]}]}]})",
     "plant.json:1:23: modbus.units.a: expected a whole number from 1 to 247, found 248"},
};

TEST(GatewayPlant, RefusesMistakesWithTheirPosition) {
  // The same whether the Modbus map is made or not.
  for (const PlantMistake& mistake : kPlantMistakes) {
    for (const bool modbusMap : {true, false}) {
      try {
        tools::ReadGatewayPlant(mistake.text, "plant.json", modbusMap);
        ADD_FAILURE() << "accepted: " << mistake.text;
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), mistake.message);
      }
    }
  }
}

// Usage mistakes end with status 2 and say what is wrong.
struct UsageMistake {
  std::vector<std::string> options;
  const char* message;
};

TEST(GatewayCommandLine, RefusesUsageMistakesWithStatus2) {
  TempDir dir;
  const std::string plant =
      dir.Write("plant.json", PlantText(1883, Json::array({Line("a", "/dev/null", kPumpItems)})));
  // An item address refused where the plant file gives it.
  const std::string items =
      dir.Write("items.yaml",
                "lines:\n  - line: a\n    port: /dev/null\n    classes:\n      - class: pxr5700\n"
                "        items: [{item: DI4.0}, {item: DI4.x}]\n");
  const std::string refused = items +
                              ":6:33 (line a, pxr5700): DI4.x: read as DI4.0; the channel \"x\" "
                              "is not a number: the driver reads 0\n";
  // One item more than Modbus has registers for: a plant without a
  // "modbus" section is read, Modbus cannot be asked for.
  std::string many =
      "lines:\n  - line: a\n    port: /dev/null\n    classes:\n      - class: "
      "pxr5100\n        items: [";
  for (int i = 0; i < 65532 / 4 + 1; ++i)
    many += fmt::format("{{item: TA{}.{}.{}}},", i / 512, i / 64 % 8, i % 64);
  const std::string tooMany = dir.Write("many.yaml", many + "]\n");
  const UsageMistake mistakes[] = {
      {{dir.path() + "/none.json"}, "File does not exist"},
      {{items, "--once"}, refused.c_str()},
      {{plant, "--broker", "host:port"}, "--broker \"host:port\": expected HOST or HOST:PORT"},
      {{plant, "--http", "127.0.0.1"}, "--http \"127.0.0.1\": expected ADDRESS:PORT"},
      {{plant, "--tls-cert", plant}, "--tls-cert and --tls-key go together"},
      {{plant, "--prefix", "a/#"}, "--prefix \"a/#\": a topic cannot hold the wildcards + or #"},
      {{plant, "--tls-insecure"}, "needs a CA file (--tls-ca)"},
      {{plant, "--modbus", "127.0.0.1"}, "--modbus \"127.0.0.1\": expected ADDRESS:PORT"},
      {{tooMany, "--modbus", "127.0.0.1:0"},
       "--modbus: line a has more items than Modbus registers"},
      {{tooMany, "--modbus-map"}, "--modbus-map: line a has more items than Modbus registers"},
  };
  for (const UsageMistake& mistake : mistakes) {
    std::vector<std::string> argv{kGateway};
    argv.insert(argv.end(), mistake.options.begin(), mistake.options.end());
    const RunResult run = RunProgram(argv, 10s);
    EXPECT_EQ(run.status, 2) << mistake.message;
    EXPECT_NE(run.err.find(mistake.message), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace tarvo::test
