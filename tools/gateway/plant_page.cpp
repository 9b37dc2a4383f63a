#include "tools/gateway/plant_page.h"

#include <httplib.h>

#include <string>

namespace tarvo::tools {

void ServePage(httplib::Server& server) {
  for (const PageFile& file : PageFiles()) {
    // The server takes a pattern: a dot in a name is only a dot.
    std::string pattern;
    for (const char c : file.path) pattern += c == '.' ? std::string("\\.") : std::string(1, c);
    server.Get(pattern, [&file](const httplib::Request&, httplib::Response& response) {
      response.set_header("Cache-Control", "no-cache");
      response.set_header("Content-Security-Policy",
                          "default-src 'self'; base-uri 'none'; form-action 'self'; "
                          "frame-ancestors 'none'; object-src 'none'");
      response.set_header("X-Content-Type-Options", "nosniff");
      response.set_header("Referrer-Policy", "no-referrer");
      response.set_content(file.body.data(), file.body.size(), std::string(file.type));
    });
  }
}

}  // namespace tarvo::tools
