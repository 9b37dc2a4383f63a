// A wrong-code case of GCC 12.2 (Debian 12's g++ and the mingw-w64 cross
// compilers built from it): at -O2 and above, the has_value() flag of an
// element of a default-constructed nested std::array of std::optional is read
// before the zeroing of the array and the stale heap byte decides the result.
// -O0, -O1, -fno-strict-aliasing, -fno-schedule-insns2 and clang 14 are right.
// Every build compiles this with its own flags and runs it: the project
// builds with -fno-strict-aliasing so that this class of fault cannot reach
// the library, the simulator or the tools. Exit status 0 when the compiler
// got it right.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

using Record = std::array<uint8_t, 4>;
struct Module {
  std::array<std::array<std::optional<Record>, 64>, 8> records;
};

__attribute__((noinline)) Module* Make() {
  Module* m = new Module;
  m->records[1][5] = Record{'a', 'b', 'c', 'd'};
  return m;
}

int main() {
  // Leave non-zero bytes where the next allocation will land.
  unsigned char* volatile p = static_cast<unsigned char*>(std::malloc(sizeof(Module)));
  for (size_t i = 0; i < sizeof(Module); ++i) p[i] = 0xFF;
  std::free(p);
  Module* m = Make();
  const bool ok = m->records[1][5].has_value();
  delete m;
  std::printf("%s\n", ok ? "right" : "miscompiled: the element reads as empty");
  return ok ? 0 : 1;
}
