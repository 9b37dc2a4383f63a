#include "checks.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarvo_test {

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return narrow;
}

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

std::wstring GuidText(const GUID& guid) {
  wchar_t text[39];
  StringFromGUID2(guid, text, 39);
  return text;
}

GUID ParseGuid(const wchar_t* text) {
  GUID guid;
  if (FAILED(CLSIDFromString(text, &guid))) {
    std::printf("FATAL: malformed GUID %s\n", Narrow(text).c_str());
    std::exit(2);
  }
  return guid;
}

void Checks::Record(bool ok, const std::string& what, const std::string& detail) {
  if (ok) {
    ++passed_;
    return;
  }
  ++failed_;
  std::printf("FAIL: %s%s\n", what.c_str(), detail.c_str());
}

void Checks::Expect(bool ok, const std::string& what) { Record(ok, what, ""); }

void Checks::ExpectHr(HRESULT actual, HRESULT expected, const std::string& what) {
  Record(actual == expected, what,
         ": got " + Hex(static_cast<unsigned long>(actual)) + ", want " +
             Hex(static_cast<unsigned long>(expected)));
}

void Checks::ExpectEqual(const std::wstring& actual, const std::wstring& expected,
                         const std::string& what) {
  Record(actual == expected, what,
         ": got \"" + Narrow(actual) + "\", want \"" + Narrow(expected) + "\"");
}

void Checks::ExpectEqual(long long actual, long long expected, const std::string& what) {
  Record(actual == expected, what,
         ": got " + std::to_string(actual) + ", want " + std::to_string(expected));
}

void Checks::ExpectEqual(const std::string& actual, const std::string& expected,
                         const std::string& what) {
  const auto shown = [](const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
      if (c >= 0x20 && c < 0x7F) {
        text += static_cast<char>(c);
      } else {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        text += hex;
      }
    }
    return text;
  };
  Record(actual == expected, what,
         ": got \"" + shown(actual) + "\", want \"" + shown(expected) + "\"");
}

void Checks::ExpectNear(double actual, double expected, double tolerance, const std::string& what) {
  char detail[96];
  std::snprintf(detail, sizeof detail, ": got %.6g, want %.6g (within %.3g)", actual, expected,
                tolerance);
  Record(std::fabs(actual - expected) <= tolerance, what, detail);
}

int Checks::Finish() const {
  std::printf("%d passed, %d failed\n", passed_, failed_);
  std::fflush(stdout);
  return (failed_ == 0 && passed_ > 0) ? 0 : 1;
}

}  // namespace tarvo_test
