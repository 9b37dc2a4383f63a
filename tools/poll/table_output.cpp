#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <iterator>

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
    // an item has them. The cells are made twice, for the widths and for
    // the lines, rather than kept: a full line has 65,536 rows.
    using Row = std::array<std::string, 7>;
    const Row heading = {"CLASS", "ITEM", "NAME", "VALUE", "UNIT", "AGE", "STATUS"};
    auto cells = [&](const ItemReading& r) -> Row {
      return {r.className, r.item,
              r.name,      (r.write ? ":= " : "") + FormatValue(r),
              r.unit,      FormatAge(r, poll.time),
              Status(r)};
    };
    bool classes = false;
    bool names = false;
    bool units = false;
    std::array<size_t, 7> widths{};
    auto widen = [&](const Row& row) {
      for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    };
    widen(heading);
    for (const ItemReading& r : poll.readings) {
      classes = classes || r.className != poll.readings.front().className;
      names = names || !r.name.empty();
      units = units || !r.unit.empty();
      widen(cells(r));
    }
    const bool shown[] = {classes, true, names, true, units, true, true};
    std::string line;
    int lines = 2;  // the blank line and the poll's
    auto write = [&](const Row& row) {
      line = " ";
      for (size_t c = 0; c + 1 < row.size(); ++c)
        if (shown[c]) fmt::format_to(std::back_inserter(line), " {:<{}} ", row[c], widths[c]);
      line += " " + row.back() + "\n";
      out_ << line;
      lines += static_cast<int>(std::count(line.begin(), line.end(), '\n'));
    };
    if (inPlace_ && lines_ > 0) {
      // Back to the start of the previous poll's block, and clear below.
      out_ << "\x1b[" << lines_ << "F\x1b[J";
    }
    out_ << fmt::format("\npoll {} at {}\n", poll.number, IsoTime(poll.time));
    write(heading);
    for (const ItemReading& r : poll.readings) write(cells(r));
    out_.flush();
    lines_ = lines;
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
