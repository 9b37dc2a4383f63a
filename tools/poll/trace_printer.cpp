#include "tools/poll/trace_printer.h"

#include <fmt/format.h>

#include "tools/common/hex_dump.h"
#include "tools/common/time_text.h"
#include "tools/plant/module_traffic.h"

namespace tarvo::tools {

std::string FormatTrace(std::chrono::system_clock::time_point when, const char* label,
                        std::span<const uint8_t> bytes) {
  const std::string head = fmt::format("{} {:<12} {:>4}  ", ClockTime(when),
                                       label != nullptr ? label : "", bytes.size());
  const std::vector<std::string> lines = HexDumpLines(bytes);
  if (lines.empty()) return head + "(nothing)\n";
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i)
    text += (i == 0 ? head : std::string(head.size(), ' ')) + lines[i] + "\n";
  return text;
}

TracePrinter::TracePrinter(const DriverLibrary& library, std::ostream& out) : out_(out) {
  CountTraffic(library);
  ForwardTraffic(&TracePrinter::Handle, this);
}

TracePrinter::~TracePrinter() { ForwardTraffic(nullptr, nullptr); }

void TracePrinter::Handle(void* context, const char* label, const uint8_t* bytes, int32_t count) {
  auto* self = static_cast<TracePrinter*>(context);
  const size_t size = bytes != nullptr && count > 0 ? static_cast<size_t>(count) : 0;
  self->out_ << FormatTrace(std::chrono::system_clock::now(), label,
                            std::span<const uint8_t>(bytes, size));
  self->out_.flush();
}

}  // namespace tarvo::tools
