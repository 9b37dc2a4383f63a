#include <CLI/CLI.hpp>
#include <iostream>

#include "tools/pxrsim/sim_options.h"

#ifndef TARVO_VERSION
#define TARVO_VERSION "unknown"
#endif

namespace tarvo::tools {
namespace {

constexpr const char* kDescription =
    "pxrsim: simulated pxr modules on a serial line, for trying the Tarvo library and\n"
    "tarvo-poll before the panel is wired. Serves the modules of a plant file (or a\n"
    "built-in plant with one module of each family) on a new pseudo-terminal, reached\n"
    "through a symlink (default /tmp/pxrsim), or on a serial device.\n\n"
    "Example: pxrsim -v &   tarvo-poll -p /tmp/pxrsim pxr5100 TA1.0.0\n\n"
    "Fault switches (--fault and a module's \"faults\" in the plant file): silent,\n"
    "head=BYTE, swap_address_case, from_address=N, truncate_to=N, drop_final_cr,\n"
    "padding=N, pad_byte=BYTE, noise=N, noise_replaces_answer, noise_byte=BYTE,\n"
    "noise_seed=N, delay_ms=N, pieces=N, gap_ms=N, extra_point=N, point_twice,\n"
    "answers=N (how many answers the switches hold for; default: all).\n";

}  // namespace

std::optional<int> ParseSimCommandLine(int argc, const char* const* argv, SimOptions* options) {
  SimOptions& o = *options;
  CLI::App app(kDescription, "pxrsim");
  app.get_formatter()->column_width(30);
  app.add_option("--plant", o.plant, "plant file (YAML or JSON); default: the built-in plant");
  auto* link =
      app.add_option("--link", o.link, "symlink to create for the pty (default /tmp/pxrsim)");
  app.add_option("--device", o.device, "serve this serial device instead of a pty")->excludes(link);
  app.add_option("-b,--baud", o.baud,
                 "on a pty: pace answers at this rate, 10 bits per byte (default: no pacing);\n"
                 "on a device: its rate (default 9600)")
      ->check(CLI::Range(50, 4000000));
  app.add_option("--parity", o.parity, "device parity: none, even, odd, mark, space")
      ->check(CLI::IsMember({"none", "even", "odd", "mark", "space"}));
  app.add_option("-d,--data-bits", o.dataBits, "device data bits: 7 or 8")
      ->check(CLI::IsMember({7, 8}));
  app.add_option("-s,--stop-bits", o.stopBits, "device stop bits: 1 or 2")
      ->check(CLI::IsMember({1, 2}));
  app.add_option("--fault", o.faults,
                 "ADDRESS:SWITCH[=VALUE][,SWITCH[=VALUE]...], ADDRESS a module's address or\n"
                 "all, e.g. --fault 1:delay_ms=600,pieces=3 or --fault all:silent,answers=2");
  app.add_flag("-v,--verbose", o.verbose, "log every command and answer as a hex dump");
  app.add_flag("--print-plant", o.printPlant,
               "print the plant file (the built-in plant as JSON) and exit");
  app.add_flag("--families", o.families, "list the module families this simulator serves");
  app.set_version_flag("--version", std::string("pxrsim ") + TARVO_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "pxrsim: " << e.what() << "\nRun pxrsim --help for the options.\n";
    return 2;
  }
  return std::nullopt;
}

}  // namespace tarvo::tools
