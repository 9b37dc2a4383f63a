// A script host creates each driver class named on its command line, as an
// automation client would: new ActiveXObject(ProgID). The objects' automation
// interface is empty, so any member access must fail. An unknown ProgID must
// be refused. Usage: cscript //nologo create_classes.js ProgID...
var passed = 0;
var failed = 0;

function check(ok, what) {
  if (ok) {
    passed++;
  } else {
    failed++;
    WScript.Echo("FAIL: " + what);
  }
}

function hex(number) {
  return "0x" + ((number < 0 ? number + 0x100000000 : number).toString(16).toUpperCase());
}

// "Object doesn't support this property or method".
var kNoSuchMember = 0x800A01B6 - 0x100000000;
// "Automation server can't create object".
var kCannotCreate = 0x800A01AD - 0x100000000;

check(WScript.Arguments.length > 0, "at least one ProgID given");
for (var i = 0; i < WScript.Arguments.length; i++) {
  var progId = WScript.Arguments(i);
  var driver = null;
  try {
    driver = new ActiveXObject(progId);
  } catch (e) {
    WScript.Echo(progId + ": " + hex(e.number) + " " + e.description);
  }
  check(driver !== null && typeof driver == "object", progId + ": created");
  if (driver === null) continue;

  var error = 0;
  try {
    driver.OpenPort(1);
  } catch (e) {
    error = e.number;
  }
  check(error == kNoSuchMember, progId + ": calling OpenPort fails with " + hex(kNoSuchMember) +
                                    ", got " + hex(error));
  driver = null;
}

var refused = 0;
try {
  new ActiveXObject("Tarvo.NoSuchClass");
} catch (e) {
  refused = e.number;
}
check(refused == kCannotCreate, "an unknown ProgID is refused with " + hex(kCannotCreate) +
                                    ", got " + hex(refused));

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed == 0 ? 0 : 1);
