// What a refused device's owner, group and mode leave the user to do: the
// group advised only where joining it lets the process in.
#include "tools/plant/port_problem.h"

#include <sys/stat.h>

#include "gtest/gtest.h"

namespace tarvo::tools {
namespace {

TEST(PortProblem, PermissionAdviceFitsTheDeviceAndTheProcess) {
  struct Row {
    mode_t mode;
    const char* group;
    bool inGroup;
    bool service;
    const char* advice;
  };
  const Row rows[] = {
      {S_IFCHR | 0660, "dialout", false, false,
       "permission denied on /dev/ttyS0 (crw-rw---- root dialout): add your user to the group "
       "dialout (sudo adduser $USER dialout) and log in again"},
      {S_IFCHR | 0660, "dialout", false, true,
       "permission denied on /dev/ttyS0 (crw-rw---- root dialout): add the user it runs as (ana) "
       "to the group dialout (sudo adduser ana dialout; in a systemd unit "
       "SupplementaryGroups=dialout) and start it again"},
      // In dialout already, the device its owner's alone: the group would not help.
      {S_IFCHR | 0600, "root", false, false,
       "permission denied on /dev/ttyS0 (crw------- root root): only root may read and write it; "
       "a udev rule can give the group read and write (MODE=\"0660\")"},
      {S_IFCHR | 0640, "dialout", false, true,
       "permission denied on /dev/ttyS0 (crw-r----- root dialout): only root may read and write "
       "it; a udev rule can give the group read and write (MODE=\"0660\")"},
      {S_IFCHR | 0660, "dialout", true, false,
       "permission denied on /dev/ttyS0 (crw-rw---- root dialout): this process is in the group "
       "dialout and the mode lets it in; something else refuses it (an access list, a security "
       "module or a container)"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(PermissionAdvice(
                  {"/dev/ttyS0", "root", row.group, row.mode, "ana", row.inGroup, row.service}),
              row.advice);
}

}  // namespace
}  // namespace tarvo::tools
