// pxrsim's stable name for its pty: made, refused while taken, replacing a
// dead simulator's link, removed at the end.
#include "tools/pxrsim/pty_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "gtest/gtest.h"
#include "support/process.h"

namespace tarvo::tools {
namespace {

std::string Target(const std::string& link) {
  char buffer[512];
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

bool Exists(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

std::string MessageOf(const std::string& link, const std::string& target) {
  try {
    PtyLink made(link, target);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST(PtyLink, PointsAtThePtyWhileItLivesAndGoesAway) {
  test::TempDir dir;
  const std::string link = dir.path() + "/pxrsim";
  {
    PtyLink made(link, "/dev/pts/77");
    EXPECT_EQ(made.path(), link);
    EXPECT_EQ(Target(link), "/dev/pts/77");
    // A second simulator on the same name is told so.
    EXPECT_EQ(MessageOf(link, "/dev/pts/78"),
              "another pxrsim serves " + link + "; stop it or choose another path with --link");
    EXPECT_EQ(Target(link), "/dev/pts/77");
  }
  EXPECT_FALSE(Exists(link));
  EXPECT_FALSE(Exists(link + ".lock"));
}

TEST(PtyLink, ReplacesALinkLeftBehind) {
  test::TempDir dir;
  const std::string link = dir.path() + "/pxrsim";
  ASSERT_EQ(symlink("/dev/pts/5", link.c_str()), 0);
  std::ofstream(link + ".lock");  // a simulator that was killed left both
  {
    PtyLink made(link, "/dev/pts/6");
    EXPECT_EQ(Target(link), "/dev/pts/6");
  }
  EXPECT_FALSE(Exists(link));
}

TEST(PtyLink, LeavesOtherFilesAlone) {
  test::TempDir dir;
  const std::string file = dir.Write("pxrsim", "not a link");
  EXPECT_EQ(MessageOf(file, "/dev/pts/5"),
            file + " exists and is not a symlink; choose another path with --link");
  std::ifstream kept(file);
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "not a link");
  EXPECT_EQ(MessageOf(dir.path() + "/no/such/dir/pxrsim", "/dev/pts/5"),
            "cannot create " + dir.path() + "/no/such/dir/pxrsim.lock: No such file or directory");
}

TEST(PtyLink, LeavesALinkThatNoLongerPointsAtItsPty) {
  test::TempDir dir;
  const std::string link = dir.path() + "/pxrsim";
  {
    PtyLink made(link, "/dev/pts/5");
    // Someone repointed the name meanwhile: not this simulator's to remove.
    unlink(link.c_str());
    ASSERT_EQ(symlink("/dev/pts/9", link.c_str()), 0);
  }
  EXPECT_EQ(Target(link), "/dev/pts/9");
}

}  // namespace
}  // namespace tarvo::tools
