// The errors of reading a plant description. A value that does not fit
// raises PlantValueError with the path of the value; the reader of a whole
// file turns it into a PlantError whose text names the file, the line and
// the column, e.g.
//   plant.json:14:21: modules[0].channels[0].points[2].ta: expected a number ...
#pragma once

#include <stdexcept>
#include <string>

#include "sim/plant/json_locator.h"

namespace tarvo::sim {

// A plant that cannot be served; what() is the whole message for the user.
class PlantError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One value of a description is wrong; what() is "path: reason".
class PlantValueError : public PlantError {
 public:
  PlantValueError(JsonPath path, const std::string& reason)
      : PlantError(Describe(path, reason)), path_(std::move(path)), reason_(reason) {}

  const JsonPath& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  static std::string Describe(const JsonPath& path, const std::string& reason) {
    const std::string where = DescribeJsonPath(path);
    return where.empty() ? reason : where + ": " + reason;
  }

  JsonPath path_;
  std::string reason_;
};

}  // namespace tarvo::sim
