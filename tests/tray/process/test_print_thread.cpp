// The print thread in this process, with the recording stub library: jobs in
// order, one at a time even while a job spins a modal loop, the busy flag
// exactly around the call. The busy flag is a fixed name: serial.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>

#include "platform/named_flag.h"
#include "tests/support/file_util.h"
#include "tests/tray/process/pallowen_fixture.h"
#include "tray/CBusPrinter3.h"
#include "tray/PrintThread.h"
#include "tray/TrayNames.h"

namespace {

class PrintThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("print-thread");
    setenv("STUB_VORNEL_DIR", dir_.c_str(), 1);
    setenv("STUB_VORNEL_SPIN_MS", "400", 1);
    setenv("DISPLAY", "", 1);
    setenv("WAYLAND_DISPLAY", "", 1);
  }
  void TearDown() override {
    unsetenv("STUB_VORNEL_SPIN_MS");
    RemoveTree(dir_);
  }
  std::string Call(int n) const { return dir_ + "/call-" + std::to_string(n) + ".txt"; }
  static int Post(const std::string& block) {
    char* copy = strdup(block.c_str());
    int rc = PostPrintJob(copy);
    if (rc != 0) free(copy);
    return rc;
  }

  std::string dir_;
};

}  // namespace

TEST_F(PrintThreadTest, JobsRunOneAtATimeOnTheGuiThread) {
  PrintThread thread;
  thread.SetLibraryPath(TRAY_STUB_VORNEL);
  ASSERT_TRUE(thread.Start(nullptr));
  EXPECT_FALSE(thread.HasIcon());  // no display: offscreen, no icon
  EXPECT_NE(Post("messageID=1&dylx=0&type=01&XMLKey=<a/>"), 0);  // not accepting yet
  thread.AcceptJobs();

  ASSERT_EQ(Post("messageID=1&dylx=0&type=01&XMLKey=<a/>"), 0);
  ASSERT_TRUE(WaitFor(5000, [&] { return FileExists(Call(0)); }));
  EXPECT_TRUE(plenwick::NamedFlag::Exists(kPrintBusyEventName));
  // Posted while the first job spins its loop: it waits for the first to end.
  ASSERT_EQ(Post("messageID=2&type=02&XMLKey=<b/>"), 0);  // no dylx: dropped
  ASSERT_EQ(Post("messageID=3&dylx=x&type=02&XMLKey=<b/>"), 0);
  ASSERT_TRUE(WaitFor(5000, [&] { return FileExists(Call(1)); }));
  EXPECT_EQ(ReadFile(Call(0)), "0\n01\n1\n0\n");
  EXPECT_EQ(ReadFile(Call(1)), "0\n02\n1\n0\n");  // not nested; "x" is print type 0

  // Stop lets the running job finish, then ends the thread.
  ASSERT_EQ(Post("messageID=4&dylx=5&type=03&XMLKey=<c/>"), 0);
  ASSERT_TRUE(WaitFor(5000, [&] { return FileExists(Call(2)); }));
  thread.Stop();
  EXPECT_FALSE(plenwick::NamedFlag::Exists(kPrintBusyEventName));
  EXPECT_EQ(ReadFile(Call(2)), "5\n03\n1\n0\n");
  EXPECT_FALSE(FileExists(Call(3)));
  EXPECT_NE(Post("messageID=5&dylx=0&type=01&XMLKey=<a/>"), 0);
}

// An update renames a new library into place while a job runs inside the old
// one: that job finishes on the old code, the next one runs the new build
// from a fresh load.
TEST_F(PrintThreadTest, AReplacedLibraryServesTheNextJob) {
  const std::string library = dir_ + "/libVornel.so";
  auto install = [&](const std::string& source) {
    std::filesystem::copy_file(source, library + ".new");
    std::filesystem::rename(library + ".new", library);
  };
  install(TRAY_STUB_VORNEL);
  PrintThread thread;
  thread.SetLibraryPath(library);
  ASSERT_TRUE(thread.Start(nullptr));
  thread.AcceptJobs();

  ASSERT_EQ(Post("messageID=1&dylx=0&type=01&XMLKey=<a/>"), 0);
  ASSERT_TRUE(WaitFor(5000, [&] { return FileExists(Call(0)); }));
  install(TRAY_STUB_VORNEL_2);
  ASSERT_EQ(Post("messageID=2&dylx=0&type=01&XMLKey=<a/>"), 0);
  ASSERT_TRUE(WaitFor(5000, [&] { return FileExists(Call(1)); }));
  thread.Stop();
  EXPECT_EQ(ReadFile(dir_ + "/call-0.load"), "1 1\n");
  EXPECT_EQ(ReadFile(dir_ + "/call-1.load"), "2 1\n");
}
