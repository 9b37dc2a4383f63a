#include <fmt/format.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "tools/common/time_text.h"
#include "tools/poll/poll_output.h"

namespace tarvo::tools {
namespace {

std::string Quoted(const std::string& text) {
  // UTF-8 kept as it is; a byte sequence that is not UTF-8 is replaced.
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

class JsonOutput final : public PollOutput {
 public:
  JsonOutput(std::ostream& out, std::string className)
      : out_(out), className_(std::move(className)) {}

  void Start(const PollHeader&) override {}

  void Show(const PollRecord& poll) override {
    const std::string time = Quoted(IsoTime(poll.time));
    for (const ItemReading& r : poll.readings) {
      // The value as the shortest text that reads back as the same float,
      // not the float widened to a double's digits.
      const bool shown = (r.ok || r.write) && (r.discrete || std::isfinite(r.analog));
      const std::string value = shown ? FormatValue(r) : "null";
      const std::optional<int> code = r.error.code();
      out_ << fmt::format(
          "{{\"time\":{},\"poll\":{},\"class\":{},\"item\":{},\"op\":\"{}\",\"ok\":{},"
          "\"value\":{},\"code\":{},\"text\":{},\"gloss\":{}}}\n",
          time, poll.number, Quoted(className_), Quoted(r.item), r.write ? "write" : "read",
          r.ok ? "true" : "false", value, code ? std::to_string(*code) : "null",
          Quoted(r.error.text), Quoted(r.error.gloss));
    }
    out_.flush();
  }

 private:
  std::ostream& out_;
  std::string className_;
};

}  // namespace

std::unique_ptr<PollOutput> MakeJsonOutput(std::ostream& out, std::string className) {
  return std::make_unique<JsonOutput>(out, std::move(className));
}

}  // namespace tarvo::tools
