// The driver interface and its records as a host program declares them:
// plain structs of the platform's types, laid out by the host's compiler,
// nothing taken from the library's headers. The tests that pass records to
// the DLL use these, so a record field that the DLL reads or writes at
// another offset than the host's compiler put it shows as a wrong result.
#pragma once

#include <windows.h>

#include <cstring>

namespace tarvo_test {

inline constexpr SHORT kDataTypeFloat = 128;
inline constexpr SHORT kDataTypeDiscrete = 1;

struct HostItem {
  SHORT RegisterIndex;
  BYTE Reserved0[2];
  LONG ModuleAddress;
  SHORT Channel;
  SHORT Point;
  SHORT SubIndex;
  BYTE Reserved1[10];
  SHORT DataType;
};

struct HostValue {
  DWORD DiscreteValue;
  BYTE Reserved[24];
  FLOAT AnalogValue;
};

struct HostRegister {
  char Name[40];
  LONG Access;
  LONG DataType1;
  LONG DataType2;
};

struct HostLineSettings {
  SHORT PortIndex;
  BYTE Reserved0[2];
  DWORD BaudCode;
  SHORT DataBitsCode;
  SHORT StopBitsCode;
  SHORT ParityCode;
  SHORT RtsDtrMode;
  DWORD LineTimeout;
};

struct HostPortConfig {
  HostLineSettings* Settings;
  DWORD Reserved0;
  char TimeoutText[64];
  HANDLE SharedHandle;
};

struct HostDriver : IUnknown {
  virtual LONG STDMETHODCALLTYPE ReservedA(LONG unused) = 0;
  virtual LONG STDMETHODCALLTYPE OpenPort(HostPortConfig* config) = 0;
  virtual void STDMETHODCALLTYPE GetRegisterTable(HostRegister** table, SHORT* count) = 0;
  virtual LONG STDMETHODCALLTYPE ParseItem(const char* address, HostItem* item) = 0;
  virtual LONG STDMETHODCALLTYPE ReservedB(LONG unused1, LONG unused2) = 0;
  virtual LONG STDMETHODCALLTYPE ReadItem(LONG unused, HostItem* item, HostValue* value) = 0;
  virtual LONG STDMETHODCALLTYPE WriteItem(LONG unused, HostItem* item, HostValue* value) = 0;
  virtual LONG STDMETHODCALLTYPE ClosePort(LONG unused) = 0;
  virtual const char* STDMETHODCALLTYPE GetErrorText() = 0;
};

// The host's records for one COM port: 9600 bit/s, 8 data bits, no parity,
// 1 stop bit; line time-outs of 500 ms; transfer time-out 100 ms. The
// reserved bytes and the end of the time-out text hold kFill, which the DLL
// must leave alone.
inline constexpr BYTE kFill = 0xA5;

struct HostPort {
  explicit HostPort(int port) {
    std::memset(&settings, kFill, sizeof settings);
    std::memset(&config, kFill, sizeof config);
    settings.PortIndex = static_cast<SHORT>(port - 1);
    settings.BaudCode = 6;
    settings.DataBitsCode = 1;
    settings.StopBitsCode = 0;
    settings.ParityCode = 2;
    settings.RtsDtrMode = 0;
    settings.LineTimeout = 500;
    config.Settings = &settings;
    std::strcpy(config.TimeoutText, "100");
    config.SharedHandle = nullptr;
  }
  HostPort(const HostPort&) = delete;
  HostPort& operator=(const HostPort&) = delete;
  HostLineSettings settings;
  HostPortConfig config;
};

}  // namespace tarvo_test
