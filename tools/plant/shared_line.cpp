#include "tools/plant/shared_line.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tools/common/gbk.h"
#include "tools/plant/line_options.h"
#include "tools/plant/port_problem.h"
#include "tools/plant/wire_time.h"

namespace tarvo::tools {
namespace {

// Start, data, parity and stop bits.
int BitsPerCharacter(const LineConfig& o) {
  return 1 + o.dataBits + (*ParityCode(o.parity) == *ParityCode("none") ? 0 : 1) + o.stopBits;
}

}  // namespace

std::optional<std::vector<LineMember>> MergeClassGroups(std::vector<ClassGroup> groups,
                                                        std::string* unknown) {
  std::vector<LineMember> members;
  for (ClassGroup& group : groups) {
    const DriverClass* c = FindDriverClass(group.className);
    if (c == nullptr) {
      *unknown = group.className;
      return std::nullopt;
    }
    auto same = std::find_if(members.begin(), members.end(),
                             [&](const LineMember& m) { return m.driverClass == c; });
    if (same == members.end()) {
      members.push_back({c, std::move(group)});
      continue;
    }
    same->group.items.insert(same->group.items.end(), std::make_move_iterator(group.items.begin()),
                             std::make_move_iterator(group.items.end()));
    same->group.writes.insert(same->group.writes.end(),
                              std::make_move_iterator(group.writes.begin()),
                              std::make_move_iterator(group.writes.end()));
  }
  return members;
}

SharedLine::SharedLine(const DriverLibrary& library, std::vector<LineMember> members,
                       std::string program, int32_t mappedPort)
    : library_(library),
      members_(std::move(members)),
      program_(std::move(program)),
      mappedPortNumber_(mappedPort) {
  for (const LineMember& m : members_) itemCount_ += m.group.items.size() + m.group.writes.size();
}

SharedLine::~SharedLine() {
  Close();
  for (Object& object : objects_) object.driver->Release();
  if (mappedPort_ != 0) library_.SetPortDevice(mappedPort_, nullptr);
}

void SharedLine::Close() {
  // The first ClosePort closes the line every object shares; the others
  // find it closed.
  for (Object& object : objects_) {
    if (object.open) object.driver->ClosePort(0);
    object.open = false;
  }
}

bool SharedLine::CreateObjects(const std::string& libraryPath) {
  for (const LineMember& member : members_) {
    const DriverClass& c = *member.driverClass;
    HRESULT created = S_OK;
    Object object{library_.Create(*c.clsid, &created), false, std::chrono::system_clock::now()};
    if (object.driver == nullptr) {
      if (created == CLASS_E_CLASSNOTAVAILABLE) {
        std::cerr << fmt::format("{}: the library {} does not offer {} ({})\n", program_,
                                 libraryPath, c.className, c.progId);
      } else {
        std::cerr << fmt::format("{}: cannot create {} ({}): {}\n", program_, c.className, c.progId,
                                 DescribeHresult(created));
      }
      return false;
    }
    objects_.push_back(object);
  }
  return true;
}

std::span<const RegisterDesc> SharedLine::RegisterTable(size_t i) const {
  RegisterDesc* table = nullptr;
  int16_t count = 0;
  objects_[i].driver->GetRegisterTable(&table, &count);
  if (table == nullptr || count <= 0) return {};
  return {table, static_cast<size_t>(count)};
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
    rules_.push_back(std::make_unique<AddressRules>(c, names));
    sessions_.push_back(std::make_unique<PollSession>(objects_[i].driver, std::string(c.className),
                                                      strict ? rules_.back().get() : nullptr));
    PollSession& session = *sessions_.back();
    bool classRefused = false;
    std::string problem;
    for (const std::string& write : members_[i].group.writes) {
      if (!session.AddWrite(write, &problem)) {
        std::cerr << program_ << ": " << problem << "\n";
        classRefused = true;
      }
    }
    // The session takes the items.
    const bool allRead = session.AddReads(
        std::move(members_[i].group.items), [&](const ItemSpec& item, const std::string& why) {
          const std::string where = item.where.Text();
          std::cerr << program_ << ": " << (where.empty() ? "" : where + ": ") << why << "\n";
        });
    classRefused = classRefused || !allRead;
    if (classRefused)
      std::cerr << fmt::format("{}: see tarvo-poll --list {} for the item addresses\n", program_,
                               c.family);
    refused = refused || classRefused;
    members_[i].group.items = {};
  }
  return !refused;
}

std::optional<std::string> SharedLine::Open(const LineConfig& o,
                                            const std::vector<int>& timeoutsMs) {
  std::string problem;
  std::optional<PortChoice> port = ParsePort(o.port, &problem);
  if (!port) return problem;
  if (!port->device.empty()) port->portNumber = mappedPortNumber_;
  std::string device = fmt::format("/dev/ttyS{}", port->portNumber - 1);
  if (!port->device.empty()) {
    if (library_.SetPortDevice(port->portNumber, port->device.c_str()) != 1)
      return fmt::format("the library refused to map COM{} to {}", port->portNumber, port->device);
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
      openError_ = error;
      const bool deviceFault = error.code() == ErrCreatePort || error.code() == ErrPortState;
      const std::string why = i == 0 && deviceFault ? DescribeDeviceProblem(device) : "";
      Close();
      return fmt::format("cannot open {} at {}: {}{}", portText_, lineText_, error.Display(),
                         why.empty() ? "" : ": " + why);
    }
    objects_[i].open = true;
  }
  return std::nullopt;
}

std::vector<int> SharedLine::Timeouts(const LineConfig& o) const {
  std::vector<int> timeouts;
  for (const LineMember& m : members_)
    timeouts.push_back(
        o.timeoutMs.value_or(FittingTimeoutMs(m.driverClass->family, o.baud, BitsPerCharacter(o))));
  return timeouts;
}

std::vector<std::string> SharedLine::TimeoutWarnings(const LineConfig& o,
                                                     const std::vector<int>& timeoutsMs) const {
  std::vector<std::string> warnings;
  for (size_t i = 0; i < members_.size(); ++i) {
    if (std::optional<std::string> warning = TimeoutWarning(members_[i].driverClass->family, o.baud,
                                                            BitsPerCharacter(o), timeoutsMs[i]))
      warnings.push_back(std::move(*warning));
  }
  return warnings;
}

}  // namespace tarvo::tools
