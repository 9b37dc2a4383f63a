// The driver error codes as a host sees them: the library hands out only
// a text (GBK); the tools show it in UTF-8 with an English gloss and the
// code, e.g. "延时时间未到 (delay not elapsed, code 23)". Codes 4 and 19
// share their text, so that text stands for both.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::tools {

struct ErrorGloss {
  int code;
  std::string_view text;   // UTF-8, exactly as the library's GBK text converts
  std::string_view gloss;  // English
};

// All 25 codes, 0..24, in order.
std::span<const ErrorGloss> ErrorGlosses();

// What a UTF-8 error text means.
struct ExplainedError {
  std::string text;        // the text itself
  std::vector<int> codes;  // the codes with this text: none for an unknown text
  std::string gloss;       // English; "unknown error text" when unknown
  // "code 23", "code 4 or 19", or "" for an unknown text.
  std::string CodeText() const;
  // The one code, or nothing when the text is unknown or shared.
  std::optional<int> code() const;
  // "延时时间未到 (delay not elapsed, code 23)"
  std::string Display() const;
  bool ok() const { return codes.size() == 1 && codes[0] == 0; }
};

ExplainedError ExplainError(std::string_view utf8Text);

}  // namespace tarvo::tools
