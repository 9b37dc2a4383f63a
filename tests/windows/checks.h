// A minimal check collector for the Windows test programs (which run under
// Wine, where no test framework is installed). Each failed check prints one
// line; Finish prints "N passed, M failed" and gives the exit code.
#pragma once

#include <windows.h>

#include <string>

namespace tarvo_test {

// ASCII rendering of a wide text, for messages.
std::string Narrow(const std::wstring& text);
std::string Hex(unsigned long value);
std::wstring GuidText(const GUID& guid);
// The GUID of a "{...}" text; fails the program when the text is malformed.
GUID ParseGuid(const wchar_t* text);

class Checks {
 public:
  void Expect(bool ok, const std::string& what);
  void ExpectHr(HRESULT actual, HRESULT expected, const std::string& what);
  void ExpectEqual(const std::wstring& actual, const std::wstring& expected,
                   const std::string& what);
  void ExpectEqual(long long actual, long long expected, const std::string& what);
  // Byte texts (e.g. the drivers' GBK messages); the message shows bytes
  // outside printable ASCII as \xNN.
  void ExpectEqual(const std::string& actual, const std::string& expected, const std::string& what);
  void ExpectNear(double actual, double expected, double tolerance, const std::string& what);
  // Prints the summary line; 0 when every check passed and at least one ran.
  int Finish() const;

 private:
  void Record(bool ok, const std::string& what, const std::string& detail);

  int passed_ = 0;
  int failed_ = 0;
};

}  // namespace tarvo_test
