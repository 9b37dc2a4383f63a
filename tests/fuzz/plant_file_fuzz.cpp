// The plant files of tarvo-poll and tarvo-gateway on any text: each is read
// or refused with a message naming the file, never anything else. Byte 0
// picks the reader, the rest is the file.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/gateway/gateway_plant.h"
#include "tools/plant/plant_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvo::tools;
  if (size < 1) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    if (data[0] % 2 == 0)
      ReadPollPlant(text, "plant.yaml");
    else
      ReadGatewayPlant(text, "plant.yaml");
  } catch (const std::runtime_error& e) {
    if (!std::string_view(e.what()).starts_with("plant.yaml")) __builtin_trap();
  }
  return 0;
}
