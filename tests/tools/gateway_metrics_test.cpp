// The gateway's metrics: each register's value in the family of its
// quantity, the series present from the start, and a full line of 65 536
// items scraped, in-process and over HTTP (time and size printed), and
// checked by promtool.
#include <httplib.h>

#include <chrono>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "gtest/gtest.h"
#include "support/process.h"
#include "tools/gateway/http_endpoint.h"
#include "tools/gateway/plant_status.h"

namespace tarvo::test {
namespace {

using tools::ItemIdentity;
using tools::ItemReading;
using tools::PlantStatus;

constexpr char kOk[] = "OK";
constexpr char kReadData[] = "读数据错误";  // code 22
// 2026-12-09T08:00:00.250Z
const PlantStatus::Clock::time_point kAt{std::chrono::milliseconds(1796803200250)};

ItemIdentity Identity(const char* family, const char* item) {
  const std::string address = item;
  return {"a",           family, std::stoi(address.substr(2)), address, "n", "u", "t/a/" + address,
          "a/" + address};
}

ItemReading Reading(const char* text, double value, bool discrete) {
  ItemReading r;
  r.error = tools::ExplainError(text);
  r.ok = r.error.ok();
  r.discrete = discrete;
  r.hasValue = r.ok;
  r.analog = static_cast<float>(value);
  r.discreteValue = static_cast<uint32_t>(value);
  r.readAt = kAt;
  return r;
}

bool Has(const std::string& text, const std::string& line) {
  return text.find("\n" + line + "\n") != std::string::npos;
}

struct QuantityCase {
  const char* family;
  const char* item;
  double value;
  bool discrete;
  const char* sample;  // after a read that succeeded
};

const QuantityCase kQuantities[] = {
    {"pxr5100", "TA1.0.0", 24.5, false,
     "tarvo_temperature_celsius{line=\"a\",class=\"pxr5100\",item=\"TA1.0.0\"} 24.5"},
    {"pxr5100", "UA1.0.3", -2.125, false,
     "tarvo_temperature_celsius{line=\"a\",class=\"pxr5100\",item=\"UA1.0.3\"} -2.125"},
    {"pxr5100", "WB1.0.4", 55, false,
     "tarvo_relative_humidity_ratio{line=\"a\",class=\"pxr5100\",item=\"WB1.0.4\"} 0.55"},
    {"pxr5100", "WM1.0.1", 123.45, false,
     "tarvo_item_value{line=\"a\",class=\"pxr5100\",item=\"WM1.0.1\"} 123.45"},
    {"pxr530x", "wb2.7.63", 82.5, false,
     "tarvo_relative_humidity_ratio{line=\"a\",class=\"pxr530x\",item=\"wb2.7.63\"} 0.825"},
    {"pxr5303", "WA3.1.0", -18.25, false,
     "tarvo_temperature_celsius{line=\"a\",class=\"pxr5303\",item=\"WA3.1.0\"} -18.25"},
    {"pxr5700", "DI4.0", 1, true,
     "tarvo_digital_state{line=\"a\",class=\"pxr5700\",item=\"DI4.0\"} 1"},
    {"pxr5700", "TB4.2", 12.5, false,
     "tarvo_temperature_celsius{line=\"a\",class=\"pxr5700\",item=\"TB4.2\"} 12.5"},
    {"pxr5700", "WI4.2", -1, false,
     "tarvo_item_value{line=\"a\",class=\"pxr5700\",item=\"WI4.2\"} -1"},
    {"pxr5760", "AD5.1.0.3", 2.5, false,
     "tarvo_voltage_volts{line=\"a\",class=\"pxr5760\",item=\"AD5.1.0.3\"} 2.5"},
    {"pxr5760", "LT5.1.0.2", 7.0625, false,
     "tarvo_temperature_celsius{line=\"a\",class=\"pxr5760\",item=\"LT5.1.0.2\"} 7.0625"},
    {"pxr5760", "HB5.0.1", -8, false,
     "tarvo_item_value{line=\"a\",class=\"pxr5760\",item=\"HB5.0.1\"} -8"},
    {"pxr5760", "do5.2.0.4", 0, true,
     "tarvo_digital_state{line=\"a\",class=\"pxr5760\",item=\"do5.2.0.4\"} 0"},
};

// The item's payload, compact and as --once indents it, is the JSON
// library's own text of the same document, its value as the library
// writes `value` ("55.0", not "55").
void ExpectLibraryText(const PlantStatus& status, size_t item, const nlohmann::json& value) {
  const std::string compact = status.MessageFor(item).payload;
  EXPECT_EQ(compact, nlohmann::ordered_json::parse(compact).dump()) << compact;
  EXPECT_NE(compact.find("\"value\":" + value.dump() + ","), std::string::npos) << compact;
  std::string indented;
  status.Retained([&](const tools::Message& m) { indented = m.payload; }, 0);
  EXPECT_EQ(indented, nlohmann::ordered_json::parse(compact).dump(2)) << indented;
}

TEST(GatewayMetrics, EachRegisterInTheFamilyOfItsQuantityWhileItsLatestReadSucceeds) {
  for (const QuantityCase& c : kQuantities) {
    PlantStatus status;
    status.AddLine("a");
    const size_t item = status.AddItem(Identity(c.family, c.item));
    const std::string labels =
        std::string("{line=\"a\",class=\"") + c.family + "\",item=\"" + c.item + "\"";
    const std::string module = Identity(c.family, c.item).item.substr(2, 1);
    const std::string moduleLabels =
        std::string("{line=\"a\",class=\"") + c.family + "\",module=\"" + module + "\"";
    const std::string before = status.Metrics();
    // Before any call: the counters at 0, the item's info, no value.
    EXPECT_TRUE(Has(before, "tarvo_item_info" + labels + ",module=\"" + module +
                                "\",name=\"n\",unit=\"u\",topic=\"t/a/" + c.item + "\"} 1"))
        << c.item;
    for (const char* counter : {"tarvo_exchanges_total", "tarvo_reads_total", "tarvo_writes_total"})
      EXPECT_TRUE(Has(before, counter + moduleLabels + "} 0")) << c.item << counter;
    for (const char* counter : {"tarvo_read_failures_total", "tarvo_write_failures_total"})
      EXPECT_TRUE(Has(before, counter + moduleLabels + ",code=\"22\"} 0")) << c.item << counter;
    EXPECT_TRUE(Has(before, "tarvo_line_poll_duration_seconds_count{line=\"a\"} 0")) << c.item;
    EXPECT_EQ(before.find(labels + "}"), std::string::npos) << c.item;

    const nlohmann::json value =
        c.discrete ? nlohmann::json(static_cast<int>(c.value)) : nlohmann::json(c.value);
    status.CountCall(item, 1, Reading(kOk, c.value, c.discrete));
    status.Record(item, Reading(kOk, c.value, c.discrete));
    const std::string read = status.Metrics();
    EXPECT_TRUE(Has(read, c.sample)) << read;
    EXPECT_TRUE(Has(read, "tarvo_item_last_read_timestamp_seconds" + labels + "} 1796803200.25"))
        << c.item;
    EXPECT_TRUE(Has(read, "tarvo_reads_total" + moduleLabels + "} 1")) << c.item;
    ExpectLibraryText(status, item, value);

    // A failed read: no value, its time stays that of the last value.
    status.CountCall(item, 2, Reading(kReadData, 0, c.discrete));
    status.Record(item, Reading(kReadData, 0, c.discrete));
    const std::string failed = status.Metrics();
    EXPECT_EQ(failed.find(std::string(c.sample).substr(0, std::string(c.sample).rfind(' '))),
              std::string::npos)
        << c.item;
    EXPECT_TRUE(Has(failed, "tarvo_item_last_read_timestamp_seconds" + labels + "} 1796803200.25"))
        << c.item;
    EXPECT_TRUE(Has(failed, "tarvo_read_failures_total" + moduleLabels + ",code=\"22\"} 1"))
        << c.item;
    EXPECT_TRUE(Has(failed, "tarvo_exchanges_total" + moduleLabels + "} 3")) << c.item;
    ExpectLibraryText(status, item, value);
  }
}

TEST(GatewayMetrics, WritesCountedBesideTheirFailuresAndALineRemovedGoesWithItsSeries) {
  PlantStatus status;
  status.AddLine("a");
  status.AddLine("b");
  const size_t item = status.AddItem(Identity("pxr5700", "DO4.2"));
  status.AddItem({"b", "pxr5700", 4, "DI4.0", "", "", "t/b/DI4.0", "b/DI4.0"});
  ItemReading write = Reading(kOk, 1, true);
  write.write = true;
  status.CountCall(item, 1, write);
  write = Reading(kReadData, 1, true);
  write.write = true;
  status.CountCall(item, 1, write);
  status.PollEnded("a", std::chrono::milliseconds(1500));
  status.PollEnded("a", std::chrono::milliseconds(250));
  const std::string text = status.Metrics();
  const std::string module = "{line=\"a\",class=\"pxr5700\",module=\"4\"";
  EXPECT_TRUE(Has(text, "tarvo_writes_total" + module + "} 2")) << text;
  EXPECT_TRUE(Has(text, "tarvo_write_failures_total" + module + ",code=\"22\"} 1")) << text;
  EXPECT_TRUE(Has(text, "tarvo_reads_total" + module + "} 0")) << text;
  EXPECT_TRUE(Has(text, "tarvo_line_poll_duration_seconds_sum{line=\"a\"} 1.75")) << text;
  EXPECT_TRUE(Has(text, "tarvo_line_poll_duration_seconds_count{line=\"a\"} 2")) << text;

  status.Record(item, Reading(kOk, 1, true));
  EXPECT_EQ(status.RemoveLine("a"), std::vector<std::string>{"t/a/DO4.2"});
  const std::string after = status.Metrics();
  EXPECT_EQ(after.find("line=\"a\""), std::string::npos) << after;
  EXPECT_NE(after.find("tarvo_item_info{line=\"b\""), std::string::npos) << after;
  size_t retained = 0;
  status.Retained([&](const tools::Message&) { ++retained; });
  EXPECT_EQ(retained, 0u);
  // Its slot serves the next item added.
  EXPECT_EQ(status.AddItem({"c", "pxr5700", 4, "DI4.1", "", "", "t/c/DI4.1", "c/DI4.1"}), item);
}

// A full line: 128 pxr5100 modules of 8 chains of 64 points, every point
// read. The scrape's time and size are printed; promtool checks the text.
TEST(GatewayMetrics, AFullLineScrapedAndCheckedByPromtool) {
  PlantStatus status;
  status.AddLine("store");
  for (int module = 0; module < 128; ++module)
    for (int channel = 0; channel < 8; ++channel)
      for (int point = 0; point < 64; ++point) {
        const std::string address = "TA" + std::to_string(module) + "." + std::to_string(channel) +
                                    "." + std::to_string(point);
        const size_t item = status.AddItem({"store", "pxr5100", module, address, "", "°C",
                                            "plant/store/" + address, "store/" + address});
        ItemReading reading = Reading(kOk, 4 + point * 0.0625, false);
        status.CountCall(item, 1, reading);
        status.Record(item, reading);
      }
  status.LineUp("store");
  status.PollEnded("store", std::chrono::seconds(31));

  size_t bytes = 0;
  size_t pieces = 0;
  std::string text;
  const auto began = std::chrono::steady_clock::now();
  status.Metrics([&](std::string_view piece) {
    bytes += piece.size();
    ++pieces;
    text += piece;
    return true;
  });
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
  std::cout << "a scrape of 65536 items: " << bytes << " bytes in " << pieces << " pieces, "
            << took.count() << " s\n";
  size_t temperatures = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("tarvo_temperature_celsius{")) ++temperatures;
  EXPECT_EQ(temperatures, 65536u);
  EXPECT_LT(bytes, 65536u * 400);  // loosely: the text stays a few hundred bytes an item

  // Through the HTTP endpoint, gzip-compressed as Prometheus asks for it.
  tools::HttpEndpoint http(status);
  tools::HttpSettings settings;
  settings.port = 0;
  std::string problem;
  ASSERT_TRUE(http.Start(settings, &problem)) << problem;
  for (int i = 0; i < 200 && http.port() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_NE(http.port(), 0);
  httplib::Client client("127.0.0.1", http.port());
  client.set_read_timeout(std::chrono::seconds(10));
  const auto asked = std::chrono::steady_clock::now();
  const auto scraped = client.Get("/metrics", {{"Accept-Encoding", "gzip"}});
  const std::chrono::duration<double> answered = std::chrono::steady_clock::now() - asked;
  ASSERT_TRUE(scraped);
  EXPECT_EQ(scraped->get_header_value("Content-Encoding"), "gzip");
  // The same text but for the process's own figures, which move.
  auto plant = [](const std::string& all) { return all.substr(0, all.find("# HELP process_")); };
  EXPECT_TRUE(plant(scraped->body) == plant(text));
  std::cout << "the same over HTTP with gzip: " << answered.count() << " s\n";

  // A scrape stops when its reader is gone.
  size_t given = 0;
  status.Metrics([&](std::string_view) { return ++given < 2; });
  EXPECT_EQ(given, 2u);

  TempDir dir;
  const std::string file = dir.Write("metrics.txt", text);
  const RunResult check = RunProgram({"/bin/sh", "-c", "promtool check metrics < " + file});
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_EQ(check.out + check.err, "");
}

}  // namespace
}  // namespace tarvo::test
