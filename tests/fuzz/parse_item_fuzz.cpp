// ParseItem of every driver class the server offers, on any address text
// and item data type. Byte 0 picks the class, byte 1 the data type, the
// rest is the address text.
#include <cstdint>
#include <string>

#include "server/server_classes.h"
#include "tarvo/guids.h"
#include "tarvo/io_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvo;
  if (size < 2) return 0;
  const auto classes = ServerClasses();
  const ServerClass& cls = classes[data[0] % classes.size()];
  const int16_t dataTypes[] = {kDataTypeFloat, kDataTypeDiscrete, 0, -1};
  IoItem item{};
  item.DataType = dataTypes[data[1] % 4];
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

  void* object = nullptr;
  if (cls.create(IID_IIoDriver, &object) != S_OK) __builtin_trap();
  auto* driver = static_cast<IIoDriver*>(object);
  const int32_t result = driver->ParseItem(text.c_str(), &item);
  const char* message = driver->GetErrorText();
  // A success leaves OK; a failure leaves a text; either way it is readable.
  if (message == nullptr || (result == 1) != (std::string(message) == "OK")) __builtin_trap();
  driver->Release();
  return 0;
}
