// The driver objects of one tarvo-poll run on one serial line, as a host
// keeps them: one object per class, each parsing its own items; the first
// object opens the port and publishes its handle in SharedHandle, and every
// other object adopts it through a port record of its own that carries
// its own time-out. Closed and released at the end.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tarvo/tarvo.h"
#include "tools/common/driver_library.h"
#include "tools/plant/driver_classes.h"
#include "tools/plant/item_address.h"
#include "tools/plant/line_config.h"
#include "tools/plant/line_options.h"
#include "tools/plant/poll_session.h"

namespace tarvo::tools {

struct LineMember {
  const DriverClass* driverClass;
  ClassGroup group;
};

// One member per class, groups of one class merged, in the order named.
// Nothing, with the name in *unknown, for a class not known.
std::optional<std::vector<LineMember>> MergeClassGroups(std::vector<ClassGroup> groups,
                                                        std::string* unknown);

class SharedLine {
 public:
  // The library must outlive the line. Messages begin with `program`; a
  // device path is mapped to the port number `mappedPort`.
  SharedLine(const DriverLibrary& library, std::vector<LineMember> members,
             std::string program = "tarvo-poll", int32_t mappedPort = kMappedPort);
  ~SharedLine();
  SharedLine(const SharedLine&) = delete;
  SharedLine& operator=(const SharedLine&) = delete;

  size_t size() const { return members_.size(); }
  const DriverClass& driverClass(size_t i) const { return *members_[i].driverClass; }
  // The class's group as given; ParseItems moves its items into the session.
  const ClassGroup& group(size_t i) const { return members_[i].group; }
  // The items and writes of every group.
  size_t itemCount() const { return itemCount_; }

  // One driver object per class, in order. False after a message.
  bool CreateObjects(const std::string& libraryPath);
  // The register table object i hands out.
  std::span<const RegisterDesc> RegisterTable(size_t i) const;
  // When object i was made: its modules' gates count from then.
  std::chrono::system_clock::time_point created(size_t i) const { return objects_[i].created; }
  // Parses every item and write with its class's object; with strict, the
  // address rules must pass too. False after a message for each refusal.
  bool ParseItems(bool strict);
  // Each object's transfer time-out: o.timeoutMs, or the shortest that lets
  // its class's largest answer arrive at the line's rate.
  std::vector<int> Timeouts(const LineConfig& o) const;
  // The warnings for the time-outs too short for their class's answers.
  std::vector<std::string> TimeoutWarnings(const LineConfig& o,
                                           const std::vector<int>& timeoutsMs) const;
  // Maps the port when it is a device path, opens it with the first object
  // and lets the others adopt it, object i with the time-out timeoutsMs[i].
  // Nothing when it is open, else why the device cannot be opened.
  std::optional<std::string> Open(const LineConfig& o, const std::vector<int>& timeoutsMs);
  // The driver's error when the last Open failed in the driver.
  const ExplainedError& openError() const { return openError_; }
  // Closes the line (the objects stay, their items parsed); Open again reopens it.
  void Close();
  // Object i's items, parsed.
  PollSession& session(size_t i) { return *sessions_[i]; }
  const PollSession& session(size_t i) const { return *sessions_[i]; }
  const std::string& portText() const { return portText_; }  // "COM255 = /tmp/pxrsim"
  const std::string& lineText() const { return lineText_; }  // "9600 8N1"

 private:
  struct Object {
    IIoDriver* driver = nullptr;
    bool open = false;
    std::chrono::system_clock::time_point created;
  };

  const DriverLibrary& library_;
  std::vector<LineMember> members_;
  size_t itemCount_ = 0;
  std::string program_;
  int32_t mappedPortNumber_;
  std::vector<Object> objects_;
  std::vector<std::unique_ptr<AddressRules>> rules_;
  std::vector<std::unique_ptr<PollSession>> sessions_;
  LineSettings settings_{};
  std::vector<PortConfig> configs_;  // one per object
  int32_t mappedPort_ = 0;           // unmapped again at the end; 0: none
  std::string portText_;
  std::string lineText_;
  ExplainedError openError_;
};

}  // namespace tarvo::tools
