// The reply handling of every driver class: any bytes, served by a fake
// line as the module's answers to whatever the driver sends, in virtual
// time. The input is a script:
//   byte 0        bits 0-6 the class (among those the server offers), bit 7
//                 early replies (the port reads an answer once it is whole)
//   then items:   6 bytes each (register, module, channel, point, sub-index,
//                 operation), up to 8 of them, ended by 0xFF. Operation:
//                 bit 0 discrete data type, bits 1-2 the value written,
//                 bits 3-4 a device call that fails once during the call
//                 (none, the next write, read or clear-error),
//                 bit 5 the port closed before the call, bit 6 opened again
//                 (with the PortConfig that names the closed line), bit 7
//                 a write rather than a read
//   the rest      the answers: per command a 2-byte little-endian length
//                 (bounded by what is left), a delay byte (x 10 ms), then the
//                 bytes; a command with no script left gets no answer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "server/server_classes.h"
#include "support/fake_serial.h"
#include "support/host_port.h"
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
  const uint8_t head = data[script.Take(1) - 1];
  const ServerClass& cls = classes[(head & 0x7F) % classes.size()];
  const bool early = (head & 0x80) != 0;

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
  test::HostPort port(1, early ? "100,early" : "100");
  PortConfig& config = port.config;
  if (driver->OpenPort(&config) != 1) __builtin_trap();

  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < items.size(); ++i) {
      const uint8_t operation = operations[i];
      if (operation & 0x20) driver->ClosePort(0);
      if (operation & 0x40) driver->OpenPort(&config);
      const test::FakeOp failing[] = {test::FakeOp::Write, test::FakeOp::Read,
                                      test::FakeOp::ClearError};
      const int fault = operation >> 3 & 3;
      if (fault != 0) serial.line(1).FailNext(failing[fault - 1]);
      // Fields the drivers do not own carry a pattern; the item is read only.
      IoValue value;
      std::memset(&value, 0xA5, sizeof value);
      value.DiscreteValue = operation >> 1 & 3;
      const IoValue before = value;
      IoItem item = items[i];
      const bool write = (operation & 0x80) != 0;
      const int32_t result =
          write ? driver->WriteItem(0, &item, &value) : driver->ReadItem(0, &item, &value);
      const bool ok = std::strcmp(driver->GetErrorText(), "OK") == 0;
      if (result != 0 && result != 1) __builtin_trap();
      if ((result == 1) != ok) __builtin_trap();  // success and only success says "OK"
      if (std::memcmp(&item, &items[i], sizeof item) != 0) __builtin_trap();
      // A write, or a read that failed, leaves the value record alone; a read
      // that succeeded writes one value field and nothing between them.
      const bool untouched = std::memcmp(&value, &before, sizeof value) == 0;
      if ((write || result == 0) && !untouched) __builtin_trap();
      if (std::memcmp(value.Reserved, before.Reserved, sizeof value.Reserved) != 0)
        __builtin_trap();
    }
    serial.clock().Advance(2000);
  }
  driver->ClosePort(0);
  driver->Release();
  return 0;
}
