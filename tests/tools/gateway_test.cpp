// tarvo-gateway run as a user runs it, against pxrsim over pseudo-terminals
// and a real mosquitto broker on a loopback port: every item published
// with its value and unit, an output switched from its set topic, the
// metrics scraped, a broker restart, the last will, and a line whose
// device goes away and comes back while the other line keeps publishing.
// What outside clients may send: any payload on a set topic, a retained
// one, sets to no output, a flood of writes, HTTP clients that send
// nothing, slowly, or too much. --once switches no output unasked. Its plant
// file's mistakes are refused with their position.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "gtest/gtest.h"
#include "support/mqtt_probe.h"
#include "support/process.h"
#include "tools/gateway/gateway_plant.h"
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
  EXPECT_EQ(probe.Last("test/status"), "online");
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
      "lines[1].baud: the library cannot set this rate; the running plant stays\n", 5s))
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
  EXPECT_TRUE(probe.WaitFor(Says("test/status", "online", restarted), 40s)) << gateway.err();
  EXPECT_TRUE(probe.WaitFor(Reads("test/pumps/DI4.0", true, restarted), 10s));

  const auto killed = MqttProbe::Clock::now();
  gateway.Signal(SIGKILL);
  EXPECT_TRUE(probe.WaitFor(Says("test/status", "offline", killed), 20s));
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
  ASSERT_TRUE(probe.WaitFor(Reads("test/two/DI4.0", true), 20s)) << gateway.err();

  const auto gone = MqttProbe::Clock::now();
  two.reset();
  ASSERT_TRUE(probe.WaitFor(Reads("test/two/DI4.0", false, gone), 20s)) << gateway.err();
  const Json failed = *LastJson(probe, "test/two/DI4.0", gone);
  EXPECT_EQ(failed["value"], 1) << "the last value stays";
  EXPECT_EQ(failed["last_failure"]["code"], failed["code"]);
  EXPECT_NE(failed["code"], 0);
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

  // SIGTERM: the lines closed, "offline" published.
  const auto stopped = MqttProbe::Clock::now();
  gateway.Signal(SIGTERM);
  EXPECT_EQ(gateway.Wait(10s), 0) << gateway.err();
  EXPECT_TRUE(probe.WaitFor(Says("test/status", "offline", stopped), 10s));
  EXPECT_NE(gateway.err().find("tarvo-gateway: stopped\n"), std::string::npos) << gateway.err();
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
}

constexpr char kValveStation[] = R"({"modules": [{"family": "pxr5700", "address": 4,
  "inputs": 1, "outputs": 4}]})";
const Json kValveItems = Json::parse(R"([{"class": "pxr5700", "items": [
  {"item": "DI4.0"}, {"item": "DO4.2", "name": "valve"}]}])");
constexpr char kValues[] = "the value must be 0, 1, on or off (or true, false)";

// Payloads anyone on the broker may send: on a writable item's set topic
// each is answered on its result topic; a read-only item has no set topic,
// so nothing answers there.
struct MalformedPayload {
  const char* item;
  std::string payload;
  const char* error;  // the result's; nullptr: no answer
};

const MalformedPayload kMalformedPayloads[] = {
    {"DI4.0", std::string("\xff\xfe\x00", 3), nullptr},
    {"DI4.0", "1", nullptr},
    {"DO4.2", std::string("\xff\xfe\x00", 3), R"("\xff\xfe\x00" is not UTF-8 text)"},
    {"DO4.2", std::string(64 * 1024, '1'),
     R"("11111111111111111111111111111111..." (65536 bytes) is too long to be a value)"},
    {"DO4.2", "", R"("" is not a value to write)"},
    {"DO4.2", std::string(16, '\0'),
     R"("\x00\x00\x00\x00\x00\x00\x00\x00..." (16 bytes) is not a value to write)"},
    {"DO4.2", "1\n\x1b[2J", R"("1\x0a\x1b[2J" is not a value to write)"},
};

TEST(Gateway, AnswersAnyPayloadOnASetTopicAndGoesOnPublishing) {
  TempDir dir;
  Broker broker(dir);
  Sim sim(dir, "sim", kValveStation);
  MqttProbe probe(broker.port(), "test/#");
  Process gateway = StartGateway(
      dir, PlantText(broker.port(), Json::array({Line("a", sim.link(), kValveItems)})));
  ASSERT_TRUE(probe.WaitFor(Reads("test/a/DO4.2", true), 20s)) << gateway.err();
  for (const MalformedPayload& m : kMalformedPayloads) {
    const std::string topic = std::string("test/a/") + m.item;
    const auto asked = MqttProbe::Clock::now();
    probe.Publish(topic + "/set", m.payload);
    if (m.error == nullptr) continue;
    ASSERT_TRUE(probe.WaitFor(Reads(topic + "/result", false, asked), 10s))
        << m.error << gateway.err();
    Json expected = {{"item", "DO4.2"}, {"value", nullptr}, {"ok", false},
                     {"code", nullptr}, {"error", m.error}, {"gloss", kValues}};
    Json result = *LastJson(probe, topic + "/result", asked);
    EXPECT_TRUE(result.contains("time"));
    result.erase("time");
    EXPECT_EQ(result, expected);
    EXPECT_NE(gateway.err().find(std::string("tarvo-gateway: line a: DO4.2 not set: ") + m.error +
                                 " (" + kValues + ")\n"),
              std::string::npos)
        << gateway.err();
  }
  // Nothing on the read-only item's result topic, though the messages to
  // it came first; the gateway goes on, its log lines short.
  EXPECT_EQ(probe.Last("test/a/DI4.0/result"), std::nullopt);
  const auto after = MqttProbe::Clock::now();
  EXPECT_TRUE(probe.WaitFor(Reads("test/a/DI4.0", true, after), 10s)) << gateway.err();
  EXPECT_EQ(gateway.Wait(0ms), std::nullopt);
  std::istringstream log(gateway.err());
  for (std::string line; std::getline(log, line);) EXPECT_LT(line.size(), 200u) << line;
}

// A retained set message is the broker's replay, not a write; a set
// message to an item that is not an output, or to no item, is logged once.
TEST(Gateway, IgnoresARetainedSetAndLogsSetsToNoOutputOnce) {
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
  EXPECT_EQ(probe.Last("test/a/DI4.0/result"), std::nullopt);
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
      {"tarvo-gateway: line a: DI4.0 not set: register DI cannot be written (read only); a "
       "message on test/a/DI4.0/set is not answered\n",
       1},
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

// Mistakes in a gateway plant file, each refused with where it stands.
struct PlantMistake {
  const char* text;
  const char* message;
};

const PlantMistake kPlantMistakes[] = {
    {R"({"lines": []})", "plant.json:1:2: lines: no lines to poll"},
    {R"({"lines": [{"line": "a/b", "port": "/dev/x", "classes": []}]})",
     "plant.json:1:13: lines[0].line: a line's name is one topic level: no /"},
    {R"({"lines": [{"line": "a", "port": "/dev/x", "baud": 12345, "classes": []}]})",
     "plant.json:1:44: lines[0].baud: the library cannot set this rate"},
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
     "plant.json:5:5: lines[0].baud: the library cannot set this rate"},
    {"mqtt: {host: h, port: \"1883\"}\nlines: []\n",
     "plant.json:1:17: mqtt.port: expected a whole number from 1 to 65535, found a text"},
    {"http: yes\nlines: []\n", "plant.json:1:1: http: expected an object {...}, found a text"},
    {"lines:\n  - line: a\n    port: /dev/x\n    line: b\n",
     "plant.json:4:5: lines[0].line: the object gives this key twice"},
};

TEST(GatewayPlant, RefusesMistakesWithTheirPosition) {
  for (const PlantMistake& mistake : kPlantMistakes) {
    try {
      tools::ReadGatewayPlant(mistake.text, "plant.json");
      ADD_FAILURE() << "accepted: " << mistake.text;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), mistake.message);
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
  const UsageMistake mistakes[] = {
      {{dir.path() + "/none.json"}, "File does not exist"},
      {{plant, "--broker", "host:port"}, "--broker \"host:port\": expected HOST or HOST:PORT"},
      {{plant, "--http", "127.0.0.1"}, "--http \"127.0.0.1\": expected ADDRESS:PORT"},
      {{plant, "--tls-cert", plant}, "--tls-cert and --tls-key go together"},
      {{plant, "--prefix", "a/#"}, "--prefix \"a/#\": a topic cannot hold the wildcards + or #"},
      {{plant, "--tls-insecure"}, "needs a CA file (--tls-ca)"},
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
