#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

#include "tools/common/time_text.h"
#include "tools/poll/poll_output.h"

namespace tarvo::tools {
namespace {

std::string Quoted(const std::string& text) {
  // Printable ASCII other than the quote and the backslash stands as it is
  // (most texts: a full line's output is 65,536 lines).
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; }))
    return '"' + text + '"';
  // UTF-8 kept as it is; a byte sequence that is not UTF-8 is replaced.
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

class JsonOutput final : public PollOutput {
 public:
  explicit JsonOutput(std::ostream& out) : out_(out) {}

  void Start(const PollHeader&) override {}

  void Show(const PollRecord& poll) override {
    const std::string pollTime = Quoted(IsoTime(poll.time));
    for (const ItemReading& r : poll.readings) {
      // The value as the shortest text that reads back as the same float,
      // not the float widened to a double's digits.
      const bool shown = (r.hasValue || r.write) && (r.discrete || std::isfinite(r.analog));
      const std::string value = shown ? FormatValue(r) : "null";
      const std::optional<int> code = r.error.code();
      const std::string age = FormatAge(r, poll.time);
      out_ << fmt::format(
          "{{\"poll_time\":{},\"poll\":{},\"class\":{},\"item\":{},\"op\":\"{}\",\"ok\":{},"
          "\"value\":{},\"code\":{},\"error\":{},\"gloss\":{},\"time\":{},\"age\":{},"
          "\"waiting\":{},\"name\":{},\"unit\":{}}}\n",
          pollTime, poll.number, Quoted(FamilyOf(r)), Quoted(r.item), r.write ? "write" : "read",
          r.ok ? "true" : "false", value, code ? std::to_string(*code) : "null",
          Quoted(r.error.text), Quoted(r.error.gloss),
          r.readAt ? Quoted(IsoTime(*r.readAt)) : "null", age.empty() ? "null" : age,
          r.waiting ? "true" : "false", Quoted(r.name), Quoted(r.unit));
    }
    out_.flush();
  }

 private:
  std::ostream& out_;
};

}  // namespace

std::unique_ptr<PollOutput> MakeJsonOutput(std::ostream& out) {
  return std::make_unique<JsonOutput>(out);
}

}  // namespace tarvo::tools
