// The plant page that tarvo-gateway serves at / on its HTTP endpoint: an
// HTML page, its script and its style sheet, built into the binary (a plant
// network is often cut off: nothing is fetched from elsewhere). The page
// reads the plant from /api/plant, follows /api/events and switches
// outputs through /api/write.
#pragma once

#include <span>
#include <string_view>

namespace httplib {
class Server;
}

namespace tarvo::tools {

struct PageFile {
  std::string_view path;  // on the server: "/", "/page.js", ...
  std::string_view type;  // Content-Type
  std::string_view body;
};

// The files of tools/gateway/page, as built.
std::span<const PageFile> PageFiles();

// Serves each of them on `server`, never cached without asking again, and
// with a policy that lets the page load nothing but the gateway's own files.
void ServePage(httplib::Server& server);

}  // namespace tarvo::tools
