// Mode strings as the POSIX layer (and the fake line) reads them.
#include "serial/posix/parse_mode_string.h"

#include "gtest/gtest.h"

namespace tarvo::serial {
namespace {

// What a device reports before a mode string is applied: everything the
// text leaves out keeps these values.
LineState Before() {
  LineState state;
  state.baudRate = 4800;
  state.dataBits = 6;
  state.parity = Parity::Odd;
  state.stopBits = StopBits::Two;
  state.flow = FlowControl::XonXoff;
  state.dtrEnabled = true;
  state.rtsEnabled = true;
  return state;
}

LineState With(uint32_t rate, uint8_t dataBits, Parity parity, StopBits stopBits,
               FlowControl flow = FlowControl::None) {
  LineState state = Before();
  state.baudRate = rate;
  state.dataBits = dataBits;
  state.parity = parity;
  state.stopBits = stopBits;
  state.flow = flow;
  return state;
}

TEST(ParseModeString, ReadsWhatOpenPortBuilds) {
  struct Case {
    const char* mode;
    LineState expected;
  };
  const Case cases[] = {
      {"COM1:9600,n,8,1,", With(9600, 8, Parity::None, StopBits::One)},
      {"COM3:115200,e,7,2,", With(115200, 7, Parity::Even, StopBits::Two)},
      {"COM255:256000,o,8,1,", With(256000, 8, Parity::Odd, StopBits::One)},
      {"COM1:110,m,7,1,", With(110, 7, Parity::Mark, StopBits::One)},
      {"COM1:14400,s,8,2,", With(14400, 8, Parity::Space, StopBits::Two)},
      // Shortened texts change what they name; the rest stays as it was.
      {"COM1:9600,", With(9600, 6, Parity::Odd, StopBits::Two)},
      {"COM1:9600,n,", With(9600, 6, Parity::None, StopBits::Two)},
      {"COM1:9600,n,8,", With(9600, 8, Parity::None, StopBits::Two)},
      // What else the platform's parser takes.
      {"COM1:9600", With(9600, 6, Parity::Odd, StopBits::Two)},
      {"9600,n,8,1", With(9600, 8, Parity::None, StopBits::One)},
      {"com2: 19200 , E , 7 , 1 ", With(19200, 7, Parity::Even, StopBits::One)},
      {"COM1:96,n,8,1", With(9600, 8, Parity::None, StopBits::One)},
      {"COM1:11,n,8,1", With(110, 8, Parity::None, StopBits::One)},
      {"COM1:19,n,8,1", With(19200, 8, Parity::None, StopBits::One)},
      {"COM1:9600,,7,", With(9600, 7, Parity::Odd, StopBits::Two)},
      {"COM1:1200,n,5,1.5", With(1200, 5, Parity::None, StopBits::OnePointFive)},
      {"COM1:9600,n,8,1,x", With(9600, 8, Parity::None, StopBits::One, FlowControl::XonXoff)},
      {"COM1:9600,n,8,1,P", With(9600, 8, Parity::None, StopBits::One, FlowControl::Hardware)},
  };
  for (const Case& c : cases) {
    LineState state = Before();
    ASSERT_TRUE(ParseModeString(c.mode, &state)) << c.mode;
    EXPECT_EQ(state, c.expected) << c.mode;
  }
}

TEST(ParseModeString, RejectsOtherTextsAndLeavesTheStateAlone) {
  const char* const modes[] = {
      "",
      "COM1:",
      "COM1:,n,8,1",
      "COM1:0,n,8,1,",
      "COM1:abc",
      "COM1:9600;n,8,1",
      "COM1:9600,q,8,1,",
      "COM1:9600,nn,8,1,",
      "COM1:9600,n,9,1,",
      "COM1:9600,n,4,1,",
      "COM1:9600,n,8,3,",
      "COM1:9600,n,8,1.6,",
      "COM1:9600,n,8,12,",
      "COM1:9600,n,8,1,z",
      "COM1:9600,n,8,1,x,",
      "COM1:9600,n,8,1,,",
      "COM1:99999999999,n,8,1,",
      "COM1:4294967296,n,8,1,",
      "COMX:9600,n,8,1,",
  };
  for (const char* mode : modes) {
    LineState state = Before();
    EXPECT_FALSE(ParseModeString(mode, &state)) << mode;
    EXPECT_EQ(state, Before()) << mode;
  }
  LineState state = Before();
  EXPECT_FALSE(ParseModeString(nullptr, &state));
}

}  // namespace
}  // namespace tarvo::serial
