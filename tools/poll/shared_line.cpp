#include "tools/poll/shared_line.h"

#include <fmt/format.h>

#include <cstdio>
#include <cstring>
#include <iostream>

#include "tools/common/gbk.h"
#include "tools/poll/line_options.h"
#include "tools/poll/port_problem.h"
#include "tools/poll/register_list.h"

namespace tarvo::tools {

SharedLine::SharedLine(const DriverLibrary& library, std::vector<LineMember> members)
    : library_(library), members_(std::move(members)) {}

SharedLine::~SharedLine() {
  // The first ClosePort closes the line every object shares; the others
  // find it closed.
  for (Object& object : objects_) {
    if (object.driver == nullptr) continue;
    if (object.open) object.driver->ClosePort(0);
    object.driver->Release();
  }
  if (mappedPort_ != 0) library_.SetPortDevice(mappedPort_, nullptr);
}

size_t SharedLine::itemCount() const {
  size_t count = 0;
  for (const LineMember& m : members_) count += m.group.items.size() + m.group.writes.size();
  return count;
}

bool SharedLine::CreateObjects(const std::string& libraryPath) {
  for (const LineMember& member : members_) {
    const DriverClass& c = *member.driverClass;
    HRESULT created = S_OK;
    Object object{library_.Create(*c.clsid, &created), false, std::chrono::system_clock::now()};
    if (object.driver == nullptr) {
      if (created == CLASS_E_CLASSNOTAVAILABLE) {
        std::cerr << fmt::format("tarvo-poll: the library {} does not offer {} ({})\n", libraryPath,
                                 c.className, c.progId);
      } else {
        std::cerr << fmt::format("tarvo-poll: cannot create {} ({}): {}\n", c.className, c.progId,
                                 DescribeHresult(created));
      }
      return false;
    }
    objects_.push_back(object);
  }
  return true;
}

std::string SharedLine::RegisterList(size_t i) const {
  RegisterDesc* table = nullptr;
  int16_t count = 0;
  objects_[i].driver->GetRegisterTable(&table, &count);
  return FormatRegisterList(*members_[i].driverClass, table, count);
}

bool SharedLine::ParseItems(bool strict) {
  bool refused = false;
  for (size_t i = 0; i < members_.size(); ++i) {
    const DriverClass& c = *members_[i].driverClass;
    RegisterDesc* table = nullptr;
    int16_t count = 0;
    objects_[i].driver->GetRegisterTable(&table, &count);
    std::vector<std::string> names;
    for (int16_t r = 0; r < count && table != nullptr; ++r)
      names.emplace_back(table[r].Name, strnlen(table[r].Name, sizeof table[r].Name));
    rules_.push_back(std::make_unique<AddressRules>(c.family, names, c.firstRegisterIndex));
    sessions_.push_back(std::make_unique<PollSession>(objects_[i].driver, std::string(c.className),
                                                      strict ? rules_.back().get() : nullptr));
    PollSession& session = *sessions_.back();
    bool classRefused = false;
    std::string problem;
    for (const std::string& write : members_[i].group.writes) {
      if (!session.AddWrite(write, &problem)) {
        std::cerr << "tarvo-poll: " << problem << "\n";
        classRefused = true;
      }
    }
    for (const ItemSpec& item : members_[i].group.items) {
      if (!session.AddRead(item, &problem)) {
        std::cerr << "tarvo-poll: " << problem << "\n";
        classRefused = true;
      }
    }
    if (classRefused)
      std::cerr << fmt::format("tarvo-poll: see tarvo-poll --list {} for the item addresses\n",
                               c.family);
    refused = refused || classRefused;
  }
  return !refused;
}

bool SharedLine::Open(const PollOptions& o, const std::vector<int>& timeoutsMs) {
  std::string problem;
  const std::optional<PortChoice> port = ParsePort(o.port, &problem);
  if (!port) {
    std::cerr << "tarvo-poll: " << problem << "\n";
    return false;
  }
  std::string device = fmt::format("/dev/ttyS{}", port->portNumber - 1);
  if (!port->device.empty()) {
    if (library_.SetPortDevice(port->portNumber, port->device.c_str()) != 1) {
      std::cerr << fmt::format("tarvo-poll: the library refused to map COM{} to {}\n",
                               port->portNumber, port->device);
      return false;
    }
    mappedPort_ = port->portNumber;
    device = port->device;
  }
  portText_ = fmt::format("COM{} = {}", port->portNumber, device);
  settings_.PortIndex = static_cast<int16_t>(port->portNumber - 1);
  settings_.BaudCode = *BaudCode(o.baud);
  settings_.DataBitsCode = static_cast<int16_t>(o.dataBits == 7 ? 0 : 1);
  settings_.StopBitsCode = static_cast<int16_t>(o.stopBits == 2 ? 1 : 0);
  settings_.ParityCode = *ParityCode(o.parity);
  // The line's own time-outs are set by the first open, for every object.
  settings_.LineTimeout =
      static_cast<uint32_t>(*std::max_element(timeoutsMs.begin(), timeoutsMs.end()));
  lineText_ =
      fmt::format("{} {}{}{}", o.baud, o.dataBits, ParityLetter(settings_.ParityCode), o.stopBits);

  configs_.assign(objects_.size(), PortConfig{});
  for (size_t i = 0; i < objects_.size(); ++i) {
    PortConfig& config = configs_[i];
    config.Settings = &settings_;
    std::snprintf(config.TimeoutText, sizeof config.TimeoutText, "%d%s", timeoutsMs[i],
                  o.early ? ",early" : "");
    // Adopted: the handle the first object published.
    if (i > 0) config.SharedHandle = configs_[0].SharedHandle;
    IIoDriver* driver = objects_[i].driver;
    if (driver->OpenPort(&config) != 1) {
      const ExplainedError error = ExplainError(GbkToUtf8(driver->GetErrorText()));
      const std::string why = i == 0 && error.code() == 10 ? DescribeDeviceProblem(device) : "";
      std::cerr << fmt::format("tarvo-poll: cannot open {} at {}: {}{}\n", portText_, lineText_,
                               error.Display(), why.empty() ? "" : ": " + why);
      return false;
    }
    objects_[i].open = true;
  }
  return true;
}

PlantPoller SharedLine::Poller() const {
  std::vector<PlantMember> members;
  for (size_t i = 0; i < members_.size(); ++i)
    members.push_back({members_[i].driverClass, sessions_[i].get()});
  PlantPoller poller(std::move(members));
  for (size_t i = 0; i < objects_.size(); ++i) poller.ObjectCreated(i, objects_[i].created);
  return poller;
}

}  // namespace tarvo::tools
