#include <fmt/format.h>

#include <algorithm>

#include "tools/common/time_text.h"
#include "tools/poll/poll_output.h"

namespace tarvo::tools {
namespace {

class TableOutput final : public PollOutput {
 public:
  TableOutput(std::ostream& out, bool inPlace) : out_(out), inPlace_(inPlace) {}

  void Start(const PollHeader& h) override {
    out_ << fmt::format("{} ({}) on {}, {}, time-out {} ms{}, {} s between polls\n", h.className,
                        h.progId, h.port, h.line, h.timeoutMs, h.early ? " (early replies)" : "",
                        h.intervalSeconds);
    out_.flush();
  }

  void Show(const PollRecord& poll) override {
    size_t itemWidth = 4;   // "ITEM"
    size_t valueWidth = 5;  // "VALUE"
    std::vector<std::string> values;
    for (const ItemReading& r : poll.readings) {
      values.push_back((r.write ? ":= " : "") + FormatValue(r));
      itemWidth = std::max(itemWidth, r.item.size());
      valueWidth = std::max(valueWidth, values.back().size());
    }
    std::string block = fmt::format("\npoll {} at {}\n", poll.number, IsoTime(poll.time));
    block +=
        fmt::format("  {:<{}}  {:<{}}  {}\n", "ITEM", itemWidth, "VALUE", valueWidth, "STATUS");
    for (size_t i = 0; i < poll.readings.size(); ++i) {
      const ItemReading& r = poll.readings[i];
      const std::string status = r.ok ? (r.write ? "OK (written)" : "OK") : r.error.Display();
      block +=
          fmt::format("  {:<{}}  {:<{}}  {}\n", r.item, itemWidth, values[i], valueWidth, status);
    }
    if (inPlace_ && lines_ > 0) {
      // Back to the start of the previous poll's block, and clear below.
      out_ << "\x1b[" << lines_ << "F\x1b[J";
    }
    out_ << block;
    out_.flush();
    lines_ = static_cast<int>(std::count(block.begin(), block.end(), '\n'));
  }

 private:
  std::ostream& out_;
  bool inPlace_;
  int lines_ = 0;
};

}  // namespace

std::unique_ptr<PollOutput> MakeTableOutput(std::ostream& out, bool inPlace) {
  return std::make_unique<TableOutput>(out, inPlace);
}

}  // namespace tarvo::tools
