#include "tools/plant/plant_path.h"

namespace tarvo::plant {

std::string DescribePlantPath(const PlantPath& path) {
  std::string text;
  for (const PlantStep& step : path) {
    if (const auto* key = std::get_if<std::string>(&step)) {
      if (!text.empty()) text += '.';
      text += *key;
    } else {
      text += '[' + std::to_string(std::get<size_t>(step)) + ']';
    }
  }
  return text;
}

}  // namespace tarvo::plant
