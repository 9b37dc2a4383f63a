#include "sim/plant/raw_record_reader.h"

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace tarvo::sim {

RawRecord ReadRawRecord(const PlantNode& node) {
  const std::string text = node.String();
  std::istringstream words(text);
  std::vector<std::string> bytes;
  for (std::string word; words >> word;) bytes.push_back(word);
  RawRecord record{};
  bool ok = bytes.size() == record.size();
  for (size_t i = 0; ok && i < record.size(); ++i) {
    ok = bytes[i].size() == 2 && std::isxdigit(static_cast<unsigned char>(bytes[i][0])) &&
         std::isxdigit(static_cast<unsigned char>(bytes[i][1]));
    if (ok) record[i] = static_cast<uint8_t>(std::stoi(bytes[i], nullptr, 16));
  }
  if (!ok) node.Fail("expected four hex bytes such as \"32 00 0c 10\"");
  return record;
}

}  // namespace tarvo::sim
