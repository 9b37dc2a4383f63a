// The errors of reading a plant document. A value that does not fit raises
// PlantValueError with the path and the place of the value; the reader of a
// whole file turns it into a PlantError whose text names the file, the line
// and the column, e.g.
//   plant.yaml:14:21: modules[0].channels[0].points[2].ta: expected a number ...
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/plant/plant_path.h"

namespace tarvo::plant {

// A plant that cannot be read; what() is the whole message for the user.
class PlantError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;

  // "source:line:column: message"
  PlantError(std::string_view source, TextPosition at, const std::string& message)
      : std::runtime_error(std::string(source) + ":" + std::to_string(at.line) + ":" +
                           std::to_string(at.column) + ": " + message) {}
};

// One value of a document is wrong; what() is "path: reason".
class PlantValueError : public PlantError {
 public:
  PlantValueError(PlantPath path, TextPosition at, const std::string& reason)
      : PlantError(Describe(path, reason)), path_(std::move(path)), at_(at), reason_(reason) {}

  const PlantPath& path() const { return path_; }
  // Of the key when the value is an object's member, else of the value.
  TextPosition at() const { return at_; }
  const std::string& reason() const { return reason_; }

 private:
  static std::string Describe(const PlantPath& path, const std::string& reason) {
    const std::string where = DescribePlantPath(path);
    return where.empty() ? reason : where + ": " + reason;
  }

  PlantPath path_;
  TextPosition at_;
  std::string reason_;
};

}  // namespace tarvo::plant
