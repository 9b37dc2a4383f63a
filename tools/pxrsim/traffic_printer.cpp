#include "tools/pxrsim/traffic_printer.h"

#include <fmt/format.h>

#include "tools/common/hex_dump.h"
#include "tools/common/time_text.h"

namespace tarvo::tools {
namespace {

// Lines of one direction: the first after `head` and the arrow, the rest
// under them.
void AddLines(std::string* text, const std::string& head, const std::string& arrow,
              const std::vector<uint8_t>& bytes, const std::string& note) {
  const std::vector<std::string> lines = HexDumpLines(bytes);
  const std::string indent(head.size() + arrow.size() + 1, ' ');
  if (lines.empty()) {
    *text += head + arrow + " " + note + "\n";
    return;
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    *text += (i == 0 ? head + arrow + " " : indent) + lines[i];
    if (i == 0 && !note.empty()) *text += "  " + note;
    *text += "\n";
  }
}

}  // namespace

std::string FormatExchange(std::chrono::system_clock::time_point when, const sim::Exchange& e) {
  const std::string who = e.address == sim::Exchange::kNoModule
                              ? std::string("no module")
                              : fmt::format("module {:>3} {}", e.address, e.family);
  const std::string head = fmt::format("{} {:<20} ", ClockTime(when), who);
  const std::string blank(head.size(), ' ');
  std::string text;
  AddLines(&text, head, "<-", e.command, e.address == sim::Exchange::kNoModule ? "(dropped)" : "");
  if (e.address == sim::Exchange::kNoModule) return text;
  if (e.answer.empty()) {
    text += blank + "-> (no answer)\n";
    return text;
  }
  for (const sim::Chunk& chunk : e.answer) {
    const std::string note = e.answer.size() > 1 || chunk.delayMs > 0
                                 ? fmt::format("(after {} ms)", chunk.delayMs)
                                 : std::string();
    AddLines(&text, blank, "->", chunk.bytes, note);
  }
  return text;
}

}  // namespace tarvo::tools
