// The reply handling of every driver class: any bytes, served by a fake
// line as the module's answers to whatever the driver sends, in virtual
// time. The input is a script:
//   byte 0        the class (among those the server offers)
//   then items:   6 bytes each (register, module, channel, point, sub-index,
//                 operation), up to 8 of them, ended by 0xFF
//   the rest      the answers: per command a 2-byte little-endian length
//                 (bounded by what is left), a delay byte (x 10 ms), then the
//                 bytes; a command with no script left gets no answer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "server/server_classes.h"
#include "support/fake_serial.h"
#include "tarvo/guids.h"
#include "tarvo/io_driver.h"

namespace {

struct Script {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  size_t Take(size_t count) {
    const size_t taken = count < size - at ? count : size - at;
    at += taken;
    return taken;
  }
  bool Empty() const { return at >= size; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvo;
  if (size < 1) return 0;
  Script script{data, size};
  const auto classes = ServerClasses();
  const ServerClass& cls = classes[data[script.Take(1) - 1] % classes.size()];

  std::vector<IoItem> items;
  std::vector<uint8_t> operations;
  while (items.size() < 8 && !script.Empty() && data[script.at] != 0xFF && size - script.at >= 6) {
    const uint8_t* b = data + script.at;
    script.Take(6);
    IoItem item{};
    item.RegisterIndex = static_cast<int16_t>(b[0] % 10) - 1;
    const int32_t modules[] = {0, 5, 10, 127, 128, -1, 255, 42};
    item.ModuleAddress = modules[b[1] % 8];
    item.Channel = static_cast<int16_t>(static_cast<int8_t>(b[2]) % 12);
    item.Point = static_cast<int16_t>(static_cast<int8_t>(b[3]) % 70);
    item.SubIndex = static_cast<int16_t>(b[4] % 10);
    item.DataType = (b[5] & 1) ? kDataTypeDiscrete : kDataTypeFloat;
    items.push_back(item);
    operations.push_back(b[5]);
  }
  if (!script.Empty() && data[script.at] == 0xFF) script.Take(1);
  if (items.empty()) return 0;

  test::FakeSerial serial(1'000'000);
  serial.line(1).SetPeer([&script, data](const uint8_t*, size_t, int64_t) {
    std::vector<sim::Chunk> answer;
    if (script.size - script.at < 3) return answer;
    uint16_t length;
    std::memcpy(&length, data + script.at, 2);
    const int64_t delay = data[script.at + 2] * 10;
    script.Take(3);
    const size_t start = script.at;
    const size_t taken = script.Take(length);
    answer.push_back({delay, std::vector<uint8_t>(data + start, data + start + taken)});
    return answer;
  });

  void* object = nullptr;
  if (cls.create(IID_IIoDriver, &object) != S_OK) __builtin_trap();
  auto* driver = static_cast<IIoDriver*>(object);
  LineSettings settings{};
  settings.BaudCode = 6;
  settings.DataBitsCode = 1;
  settings.ParityCode = 2;
  PortConfig config{};
  config.Settings = &settings;
  std::strcpy(config.TimeoutText, "100");
  if (driver->OpenPort(&config) != 1) __builtin_trap();

  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < items.size(); ++i) {
      IoValue value{};
      value.DiscreteValue = operations[i] >> 1 & 3;
      if (operations[i] & 0x80)
        driver->WriteItem(0, &items[i], &value);
      else
        driver->ReadItem(0, &items[i], &value);
      driver->GetErrorText();
    }
    serial.clock().Advance(2000);
  }
  driver->ClosePort(0);
  driver->Release();
  return 0;
}
