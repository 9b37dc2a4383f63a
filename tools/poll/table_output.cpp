#include <fmt/format.h>

#include <algorithm>

#include "tools/common/time_text.h"
#include "tools/poll/poll_output.h"

namespace tarvo::tools {
namespace {

std::string Status(const ItemReading& r) {
  if (r.ok) return r.write ? "OK (written)" : "OK";
  return (r.waiting ? "waiting: " : "") + r.error.Display();
}

class TableOutput final : public PollOutput {
 public:
  TableOutput(std::ostream& out, bool inPlace) : out_(out), inPlace_(inPlace) {}

  void Start(const PollHeader& h) override {
    out_ << fmt::format("{}, {}{}, {} s between polls\n", h.port, h.line,
                        h.early ? ", early replies" : "", h.intervalSeconds);
    for (const PollHeader::Class& c : h.classes)
      out_ << fmt::format("  {} ({}), time-out {} ms: {}\n", c.className, c.progId, c.timeoutMs,
                          c.pace);
    out_.flush();
  }

  void Show(const PollRecord& poll) override {
    // Columns: the class where there are several, the name and unit where
    // an item has them.
    std::vector<std::vector<std::string>> rows;
    bool classes = false;
    bool names = false;
    bool units = false;
    for (const ItemReading& r : poll.readings) {
      classes = classes || r.className != poll.readings.front().className;
      names = names || !r.name.empty();
      units = units || !r.unit.empty();
    }
    rows.push_back({"CLASS", "ITEM", "NAME", "VALUE", "UNIT", "AGE", "STATUS"});
    for (const ItemReading& r : poll.readings) {
      rows.push_back({r.className, r.item, r.name, (r.write ? ":= " : "") + FormatValue(r), r.unit,
                      FormatAge(r, poll.time), Status(r)});
    }
    const bool shown[] = {classes, true, names, true, units, true, true};
    std::vector<size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
      for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    std::string block = fmt::format("\npoll {} at {}\n", poll.number, IsoTime(poll.time));
    for (const auto& row : rows) {
      std::string line = " ";
      for (size_t c = 0; c + 1 < row.size(); ++c)
        if (shown[c]) line += fmt::format(" {:<{}} ", row[c], widths[c]);
      block += line + " " + row.back() + "\n";
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
