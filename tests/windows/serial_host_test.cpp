// A host reads and writes simulated modules over a COM port through the
// registered server: objects created with CoCreateInstance, every call
// through IIoDriver, the line opened from the host's records. The port is
// mapped to the pseudo-terminal that tarvo_sim_peer serves: a pxr5100
// module at address 12 and a pxr5700 module at address 2 (see
// sim_peer.cpp for their values). run.sh compares the commands the peer
// received with serial_host_exchanges.txt.
// Usage: serial_host_test PORT-NUMBER UNMAPPED-PORT-NUMBER
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "checks.h"
#include "host_interface.h"
#include "tarvo/guids.h"

using namespace tarvo_test;

namespace {

// The drivers' GBK message texts that this test expects.
const std::string kOk = "OK";
// 10 "无法建立串行通信端口！"
const std::string kCreatePort =
    "\xCE\xDE\xB7\xA8\xBD\xA8\xC1\xA2\xB4\xAE\xD0\xD0\xCD\xA8\xD0\xC5\xB6\xCB\xBF\xDA\xA3\xA1";
// 12 "初始化串行通信端口数据结构错误！"
const std::string kInitPortData =
    "\xB3\xF5\xCA\xBC\xBB\xAF\xB4\xAE\xD0\xD0\xCD\xA8\xD0\xC5\xB6\xCB\xBF\xDA\xCA\xFD\xBE\xDD\xBD"
    "\xE1\xB9\xB9\xB4\xED\xCE\xF3\xA3\xA1";
// 23 "延时时间未到"
const std::string kDelayNotElapsed = "\xD1\xD3\xCA\xB1\xCA\xB1\xBC\xE4\xCE\xB4\xB5\xBD";

HostDriver* Create(Checks& checks, const CLSID& clsid, const std::string& what) {
  void* object = nullptr;
  checks.ExpectHr(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, tarvo::IID_IIoDriver, &object), S_OK,
      "CoCreateInstance " + what);
  return static_cast<HostDriver*>(object);
}

HostItem Parse(Checks& checks, HostDriver* driver, const char* address, int16_t dataType) {
  HostItem item{};
  item.DataType = dataType;
  checks.ExpectEqual(driver->ParseItem(address, &item), 1, std::string("ParseItem ") + address);
  return item;
}

// Opens that the line refuses leave the object without a line and the
// host's record untouched. Wine's mode-string parser refuses the shortened
// texts that out-of-range codes give ("COM5:9600,", "COM5:9600,n," and
// "COM5:9600,n,8,").
void ExpectRefusedOpens(Checks& checks, HostDriver* driver, int port, int unmapped) {
  struct Case {
    const char* what;
    int port;
    int16_t parityCode, dataBitsCode, stopBitsCode;
    const std::string& text;
  };
  const Case cases[] = {
      {"a port no device is mapped to", unmapped, 2, 1, 0, kCreatePort},
      {"parity code 5", port, 5, 1, 0, kInitPortData},
      {"data bits code 2", port, 2, 2, 0, kInitPortData},
      {"stop bits code 2", port, 2, 1, 2, kInitPortData},
  };
  for (const Case& c : cases) {
    HostPort host(c.port);
    host.settings.ParityCode = c.parityCode;
    host.settings.DataBitsCode = c.dataBitsCode;
    host.settings.StopBitsCode = c.stopBitsCode;
    const std::string label = std::string("OpenPort with ") + c.what;
    checks.ExpectEqual(driver->OpenPort(&host.config), 0, label);
    checks.ExpectEqual(driver->GetErrorText(), c.text, label + ": error text");
    checks.Expect(host.config.SharedHandle == nullptr, label + ": SharedHandle stays 0");
  }
}

// Every register kind of channel 1 of module 12 from one block read. The
// first read discovers the sensors (eight scans), which takes longer than a
// second; the block read's gate opens 2 whole seconds of the clock after the
// object was constructed, so that read may come before it (code 23, no
// block read) or after it. Either way one block read serves every value.
void ReadSensors(Checks& checks, HostDriver* driver, ULONGLONG constructed) {
  struct Case {
    const char* address;
    double value;
    double tolerance;
  };
  const Case cases[] = {
      {"TA12.1.0", 23.5, 0.0},      {"TB12.1.3", -10.125, 0.0}, {"UA12.1.3", 18.25, 0.0},
      {"WA12.1.7", 21.5, 0.0},      {"WB12.1.7", 46.7, 0.1},    {"UB12.1.9", 12.5, 0.0},
      {"WM12.1.63", 123.45, 0.005},
  };
  HostItem items[std::size(cases)];
  for (size_t i = 0; i < std::size(cases); ++i)
    items[i] = Parse(checks, driver, cases[i].address, kDataTypeFloat);

  size_t first = 0;
  HostValue value{};
  value.AnalogValue = -999.0f;
  if (driver->ReadItem(0, &items[0], &value) == 1) {
    std::printf("the first read came after the gate opened\n");
    checks.ExpectEqual(driver->GetErrorText(), kOk, "first read, after the gate opened");
    checks.ExpectNear(value.AnalogValue, cases[0].value, cases[0].tolerance, cases[0].address);
    first = 1;
  } else {
    std::printf("the first read came before the gate opened\n");
    checks.ExpectEqual(driver->GetErrorText(), kDelayNotElapsed, "first read, before the gate");
    const ULONGLONG open = constructed + 2100;
    const ULONGLONG now = GetTickCount64();
    if (now < open) Sleep(static_cast<DWORD>(open - now));
  }
  for (size_t i = first; i < std::size(cases); ++i) {
    value.AnalogValue = -999.0f;
    checks.ExpectEqual(driver->ReadItem(0, &items[i], &value), 1,
                       std::string("ReadItem ") + cases[i].address);
    checks.ExpectEqual(driver->GetErrorText(), kOk, std::string(cases[i].address) + " error text");
    checks.ExpectNear(value.AnalogValue, cases[i].value, cases[i].tolerance, cases[i].address);
  }
}

// Module 2: inputs 0x0D (a CR as the reply's data byte), numeric texts
// "23.45" and " -1.5", outputs off. One exchange serves all eight inputs,
// one both numeric channels; the write of output 7 sends the raw byte 0x80
// and the module echoes it.
void ReadAndWriteIo(Checks& checks, HostDriver* driver) {
  struct Discrete {
    const char* address;
    uint32_t value;
  };
  const Discrete inputs[] = {{"DI2.0", 1}, {"DI2.1", 0}, {"DI2.2", 1}, {"DI2.3", 1}, {"DI2.7", 0}};
  for (const Discrete& input : inputs) {
    HostItem item = Parse(checks, driver, input.address, kDataTypeDiscrete);
    HostValue value{};
    value.DiscreteValue = 7;
    checks.ExpectEqual(driver->ReadItem(0, &item, &value), 1,
                       std::string("ReadItem ") + input.address);
    checks.ExpectEqual(driver->GetErrorText(), kOk, std::string(input.address) + " error text");
    checks.ExpectEqual(value.DiscreteValue, input.value, input.address);
  }

  struct Analog {
    const char* address;
    double value;
  };
  const Analog numerics[] = {{"WI2.1", 23.45}, {"WI2.2", -1.5}};
  for (const Analog& numeric : numerics) {
    HostItem item = Parse(checks, driver, numeric.address, kDataTypeFloat);
    HostValue value{};
    value.AnalogValue = -999.0f;
    checks.ExpectEqual(driver->ReadItem(0, &item, &value), 1,
                       std::string("ReadItem ") + numeric.address);
    checks.ExpectEqual(driver->GetErrorText(), kOk, std::string(numeric.address) + " error text");
    checks.ExpectNear(value.AnalogValue, numeric.value, 0.001, numeric.address);
  }

  HostItem output7 = Parse(checks, driver, "DO2.7", kDataTypeDiscrete);
  HostValue on{};
  on.DiscreteValue = 1;
  checks.ExpectEqual(driver->WriteItem(0, &output7, &on), 1, "WriteItem DO2.7");
  checks.ExpectEqual(driver->GetErrorText(), kOk, "DO2.7 write error text");

  // Read back from the module: output 7 on, output 0 off.
  const Discrete outputs[] = {{"DO2.7", 1}, {"DO2.0", 0}};
  for (const Discrete& output : outputs) {
    HostItem item = Parse(checks, driver, output.address, kDataTypeDiscrete);
    HostValue value{};
    value.DiscreteValue = 7;
    checks.ExpectEqual(driver->ReadItem(0, &item, &value), 1,
                       std::string("ReadItem ") + output.address);
    checks.ExpectEqual(driver->GetErrorText(), kOk, std::string(output.address) + " error text");
    checks.ExpectEqual(value.DiscreteValue, output.value, output.address);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::printf("usage: serial_host_test PORT-NUMBER UNMAPPED-PORT-NUMBER\n");
    return 2;
  }
  const int port = _wtoi(argv[1]);
  const int unmapped = _wtoi(argv[2]);
  Checks checks;
  checks.ExpectHr(CoInitialize(nullptr), S_OK, "CoInitialize");

  HostDriver* sensors = Create(checks, tarvo::CLSID_Cpxr5100, "Cpxr5100");
  const ULONGLONG constructed = GetTickCount64();
  HostDriver* io = Create(checks, tarvo::CLSID_Cpxr5700, "Cpxr5700");
  if (sensors != nullptr && io != nullptr) {
    ExpectRefusedOpens(checks, sensors, port, unmapped);

    // One line for both objects: the first open publishes it in the host's
    // record, the second adopts it.
    HostPort host(port);
    checks.ExpectEqual(sensors->OpenPort(&host.config), 1, "OpenPort COM" + std::to_string(port));
    checks.ExpectEqual(sensors->GetErrorText(), kOk, "OpenPort error text");
    const HANDLE shared = host.config.SharedHandle;
    checks.Expect(shared != nullptr, "the open line is published in SharedHandle");
    checks.ExpectEqual(io->OpenPort(&host.config), 1, "OpenPort adopting the line");
    checks.Expect(host.config.SharedHandle == shared, "adopting leaves SharedHandle alone");

    ReadSensors(checks, sensors, constructed);
    ReadAndWriteIo(checks, io);

    checks.ExpectEqual(io->ClosePort(0), 1, "ClosePort");
    checks.ExpectEqual(sensors->ClosePort(0), 1, "ClosePort of the line already closed");
  }
  if (io != nullptr) checks.ExpectEqual(io->Release(), 0, "the last Release of Cpxr5700");
  if (sensors != nullptr) checks.ExpectEqual(sensors->Release(), 0, "the last Release of Cpxr5100");
  CoUninitialize();
  return checks.Finish();
}
