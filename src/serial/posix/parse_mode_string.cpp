#include "serial/posix/parse_mode_string.h"

#include <cctype>
#include <cstdint>
#include <initializer_list>

namespace tarvo::serial {
namespace {

class Reader {
 public:
  explicit Reader(const char* text) : at_(text) {}

  void SkipBlanks() {
    while (*at_ == ' ' || *at_ == '\t') ++at_;
  }
  bool AtEnd() const { return *at_ == '\0'; }
  char Peek() const { return *at_; }
  char Upper() const { return static_cast<char>(std::toupper(static_cast<unsigned char>(*at_))); }
  void Skip() { ++at_; }
  bool Take(char c) {
    if (*at_ != c) return false;
    ++at_;
    return true;
  }
  // Reads a decimal number of up to 10 digits; false with none or more.
  bool Number(uint64_t* value) {
    int digits = 0;
    *value = 0;
    while (std::isdigit(static_cast<unsigned char>(*at_))) {
      if (++digits > 10) return false;
      *value = *value * 10 + static_cast<uint64_t>(*at_++ - '0');
    }
    return digits > 0;
  }
  // A field ends at a comma or at the end of the text.
  bool FieldEnds() {
    SkipBlanks();
    return *at_ == ',' || *at_ == '\0';
  }

 private:
  const char* at_;
};

uint64_t ExpandRate(uint64_t rate) {
  switch (rate) {
    case 11:
      return 110;
    case 15:
      return 150;
    case 30:
      return 300;
    case 60:
      return 600;
    case 12:
      return 1200;
    case 24:
      return 2400;
    case 48:
      return 4800;
    case 96:
      return 9600;
    case 19:
      return 19200;
    default:
      return rate;
  }
}

// "COM<n>:" in front of the settings; the port number is not checked.
void SkipDeviceName(Reader& reader) {
  Reader probe = reader;
  for (char c : {'C', 'O', 'M'}) {
    if (probe.Upper() != c) return;
    probe.Skip();
  }
  uint64_t port = 0;
  probe.Number(&port);
  if (!probe.Take(':')) return;
  reader = probe;
}

bool ParseParity(Reader& reader, LineState& state) {
  switch (reader.Upper()) {
    case 'N':
      state.parity = Parity::None;
      break;
    case 'O':
      state.parity = Parity::Odd;
      break;
    case 'E':
      state.parity = Parity::Even;
      break;
    case 'M':
      state.parity = Parity::Mark;
      break;
    case 'S':
      state.parity = Parity::Space;
      break;
    default:
      return false;
  }
  reader.Skip();
  return true;
}

bool ParseDataBits(Reader& reader, LineState& state) {
  const char c = reader.Peek();
  if (c < '5' || c > '8') return false;
  state.dataBits = static_cast<uint8_t>(c - '0');
  reader.Skip();
  return true;
}

bool ParseStopBits(Reader& reader, LineState& state) {
  if (reader.Take('1')) {
    if (reader.Take('.')) {
      if (!reader.Take('5')) return false;
      state.stopBits = StopBits::OnePointFive;
    } else {
      state.stopBits = StopBits::One;
    }
    return true;
  }
  if (!reader.Take('2')) return false;
  state.stopBits = StopBits::Two;
  return true;
}

bool ParseFlow(Reader& reader, LineState& state) {
  switch (reader.Upper()) {
    case 'X':
      state.flow = FlowControl::XonXoff;
      break;
    case 'P':
      state.flow = FlowControl::Hardware;
      break;
    default:
      return false;
  }
  reader.Skip();
  return true;
}

}  // namespace

bool ParseModeString(const char* mode, LineState* state) {
  if (mode == nullptr || state == nullptr) return false;
  Reader reader(mode);
  LineState parsed = *state;
  parsed.flow = FlowControl::None;

  reader.SkipBlanks();
  SkipDeviceName(reader);
  reader.SkipBlanks();
  uint64_t rate = 0;
  if (!reader.Number(&rate)) return false;
  rate = ExpandRate(rate);
  if (rate == 0 || rate > UINT32_MAX) return false;
  parsed.baudRate = static_cast<uint32_t>(rate);

  using FieldParser = bool (*)(Reader&, LineState&);
  static constexpr FieldParser kFields[] = {ParseParity, ParseDataBits, ParseStopBits, ParseFlow};
  for (FieldParser parseField : kFields) {
    if (!reader.FieldEnds()) return false;
    if (!reader.Take(',')) break;  // end of text: the rest keeps its values
    reader.SkipBlanks();
    if (reader.FieldEnds()) continue;  // empty field
    if (!parseField(reader, parsed)) return false;
  }
  reader.SkipBlanks();
  if (!reader.AtEnd()) return false;
  *state = parsed;
  return true;
}

}  // namespace tarvo::serial
