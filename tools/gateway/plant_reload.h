// The running gateway's plant file read again (SIGHUP) and applied: the
// new plant is read and checked first, and on a mistake the running plant
// stays (the mistake logged with its position). A line whose settings or
// classes changed is stopped and started anew, a new line started, a line
// no longer in the file stopped; the other lines poll on untouched. The
// retained message of an item that went is cleared. "mqtt" and "http"
// take effect at the next start.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/common/driver_library.h"
#include "tools/gateway/gateway_options.h"
#include "tools/gateway/gateway_plant.h"
#include "tools/gateway/line_worker.h"
#include "tools/gateway/plant_status.h"

namespace tarvo::tools {

// A port number of its own for each line whose port is a device path,
// from the highest down: none that a line names as COMn, none taken.
std::vector<int32_t> MappedPorts(const std::vector<GatewayLine>& lines,
                                 std::set<int32_t> taken = {});

// A line as a reload compares it: its classes, items and writes in one
// text (a full line's items one by one are megabytes), where they stand
// in the file aside.
struct RunningLine {
  GatewayLine settings;  // without its classes
  std::string classes;
  bool operator==(const RunningLine&) const = default;
};
RunningLine Running(GatewayLine& line);  // the line as it was, after

class PlantReload {
 public:
  using Workers = std::vector<std::unique_ptr<LineWorker>>;

  // All must outlive it. `workers` poll the lines `running` (of `plant`,
  // whose own lines are not used), with the port numbers `mapped`; they
  // change only under `workersMutex`.
  PlantReload(const GatewayOptions& options, const DriverLibrary& library, std::string libraryPath,
              PlantStatus& status, LineWorker::Publisher publish, bool verbose, GatewayPlant plant,
              std::vector<RunningLine> running, std::vector<int32_t> mapped, Workers& workers,
              std::mutex& workersMutex);

  // Reads the plant file and applies it. The set topics of the plant now
  // polled when it changed; nothing when it stays.
  std::optional<std::vector<std::string>> Reload();

 private:
  const GatewayOptions& options_;
  const DriverLibrary& library_;
  std::string libraryPath_;
  PlantStatus& status_;
  LineWorker::Publisher publish_;
  bool verbose_;
  GatewayPlant plant_;                // its settings; no lines
  std::vector<RunningLine> running_;  // its lines
  std::vector<int32_t> mapped_;       // as running_
  Workers& workers_;                  // as running_
  std::mutex& workersMutex_;
};

}  // namespace tarvo::tools
