/* tarvo_host: a minimal host of the Tarvo driver library, in C.
 *
 *   tarvo_host PORT FAMILY ITEM...    e.g. tarvo_host /dev/ttyUSB0 pxr5700 TA4.1 WI4.1
 *
 * Creates a driver object of the family, opens PORT at 9600 baud, 8 data
 * bits, no parity, 1 stop bit, then parses and reads each item once and
 * prints its value, or the driver's error text in UTF-8 (the driver's texts
 * are GBK), and closes the port. PORT is COMn; on Linux also a device path,
 * mapped to COM255. The items are float registers (a discrete one, DI or
 * DO, would take kDataTypeDiscrete and DiscreteValue). Exit status: 0 when
 * every item was read, 1 when one was not, 2 when the driver object or
 * the port cannot be had.
 *
 * Linux:   cc tarvo_host.c $(pkg-config --cflags --libs tarvo)
 * Windows: x86_64-w64-mingw32-gcc -I include tarvo_host.c -lole32 (register
 *          Tarvo.dll first: the host creates its objects through COM)
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tarvo/tarvo.h>

#ifdef _WIN32
static IIoDriver* create(const CLSID* clsid) {
  void* driver = NULL;
  SetConsoleOutputCP(CP_UTF8);
  if (SUCCEEDED(CoInitialize(NULL)))
    CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IIoDriver, &driver);
  return driver;
}
static int port_number(const char* port) { return atoi(port + (strncmp(port, "COM", 3) ? 0 : 3)); }
static void print_text(const char* gbk) {
  wchar_t wide[128];
  char utf8[384] = "";
  if (MultiByteToWideChar(936, 0, gbk, -1, wide, 128) > 0)
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, NULL, NULL);
  puts(utf8);
}
#else
#include <iconv.h>
static IIoDriver* create(const CLSID* clsid) {
  IClassFactory* factory = NULL;
  void* driver = NULL;
  if (DllGetClassObject(clsid, &IID_IClassFactory, (void**)&factory) != S_OK) return NULL;
  factory->lpVtbl->CreateInstance(factory, NULL, &IID_IIoDriver, &driver);
  factory->lpVtbl->Release(factory);
  return driver;
}
static int port_number(const char* port) {
  if (strncmp(port, "COM", 3) == 0) return atoi(port + 3);
  return TarvoSetPortDevice(255, port) == 1 ? 255 : 0;
}
static void print_text(const char* gbk) {
  char utf8[384], *in = (char*)gbk, *out = utf8;
  size_t in_left = strlen(gbk), out_left = sizeof utf8 - 1;
  iconv_t gbk_to_utf8 = iconv_open("UTF-8", "GBK");
  if (gbk_to_utf8 != (iconv_t)-1) {
    iconv(gbk_to_utf8, &in, &in_left, &out, &out_left);
    iconv_close(gbk_to_utf8);
  }
  *out = '\0';
  puts(utf8);
}
#endif

static const struct {
  const char* family;
  const CLSID* clsid;
} classes[] = {{"pxr5100", &CLSID_Cpxr5100},
               {"pxr5303", &CLSID_CPxr5303},
               {"pxr530x", &CLSID_CPxr530x},
               {"pxr5700", &CLSID_Cpxr5700},
               {"pxr5760", &CLSID_CPxr5760}};

int main(int argc, char** argv) {
  const CLSID* clsid = NULL;
  IIoDriver* driver;
  LineSettings line = {0};
  PortConfig config = {0};
  int i, failed = 0;
  for (i = 0; argc > 3 && i < (int)(sizeof classes / sizeof classes[0]); ++i)
    if (strcmp(argv[2], classes[i].family) == 0) clsid = classes[i].clsid;
  if (clsid == NULL) {
    fprintf(stderr, "usage: tarvo_host PORT pxr5100|pxr5303|pxr530x|pxr5700|pxr5760 ITEM...\n");
    return 2;
  }
  if ((driver = create(clsid)) == NULL) {
    fprintf(stderr, "tarvo_host: cannot create a %s driver object\n", argv[2]);
    return 2;
  }
  line.PortIndex = (int16_t)(port_number(argv[1]) - 1);
  line.BaudCode = 6;     /* 9600 baud */
  line.DataBitsCode = 1; /* 8 data bits; StopBitsCode 0: 1 stop bit */
  line.ParityCode = 2;   /* none */
  line.LineTimeout = 300;
  config.Settings = &line;
  strcpy(config.TimeoutText, "300");
  if (!driver->lpVtbl->OpenPort(driver, &config)) {
    printf("%s: ", argv[1]);
    print_text(driver->lpVtbl->GetErrorText(driver));
    driver->lpVtbl->Release(driver);
    return 2;
  }
  for (i = 3; i < argc; ++i) {
    IoItem item = {0};
    IoValue value = {0};
    item.DataType = kDataTypeFloat;
    if (driver->lpVtbl->ParseItem(driver, argv[i], &item) &&
        driver->lpVtbl->ReadItem(driver, 0, &item, &value)) {
      printf("%s = %g\n", argv[i], value.AnalogValue);
    } else {
      printf("%s: ", argv[i]);
      print_text(driver->lpVtbl->GetErrorText(driver));
      failed = 1;
    }
  }
  driver->lpVtbl->ClosePort(driver, 0);
  driver->lpVtbl->Release(driver);
  return failed;
}
