// JSON documents as text, whatever bytes their strings hold: a string that
// is not UTF-8 (a payload, a plant file's text) has U+FFFD for each byte
// that is not, instead of the serialiser's exception.
#pragma once

#include <string>

namespace tarvo::tools {

template <class Json>
std::string JsonText(const Json& json, int indent = -1) {
  return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tarvo::tools
