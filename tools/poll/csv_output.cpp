#include <fmt/format.h>

#include "tools/common/time_text.h"
#include "tools/poll/poll_output.h"

namespace tarvo::tools {
namespace {

// A field quoted when it holds a comma, a quote or a line break (some error
// texts hold a comma).
std::string Field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

class CsvOutput final : public PollOutput {
 public:
  CsvOutput(std::ostream& out, bool header) : out_(out), header_(header) {}

  void Start(const PollHeader&) override {
    if (!header_) return;
    out_ << "poll_time,poll,class,item,op,ok,value,code,error,gloss,time,age,name,unit\n";
    out_.flush();
  }

  void Show(const PollRecord& poll) override {
    const std::string pollTime = IsoTime(poll.time);
    for (const ItemReading& r : poll.readings) {
      const std::string value = r.hasValue || r.write ? FormatValue(r) : "";
      const std::optional<int> code = r.error.code();
      out_ << fmt::format("{},{},{},{},{},{},{},{},{},{},{},{},{},{}\n", pollTime, poll.number,
                          FamilyOf(r), Field(r.item), r.write ? "write" : "read",
                          r.ok ? "true" : "false", value, code ? std::to_string(*code) : "",
                          Field(r.error.text), Field(r.error.gloss),
                          r.readAt ? IsoTime(*r.readAt) : "", FormatAge(r, poll.time),
                          Field(r.name), Field(r.unit));
    }
    out_.flush();
  }

 private:
  std::ostream& out_;
  bool header_;
};

}  // namespace

std::unique_ptr<PollOutput> MakeCsvOutput(std::ostream& out, bool header) {
  return std::make_unique<CsvOutput>(out, header);
}

}  // namespace tarvo::tools
