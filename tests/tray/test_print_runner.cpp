#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/tray/tray_test_util.h"
#include "tray/PrintRunner.h"

TEST(RunPrintJob, FailuresAreLoggedAndTheJobDropped) {
  LogCapture log;
  const std::string good = "messageID=1&dylx=0&type=01&XMLKey=<a/>";
  // A block without type never loads the library.
  EXPECT_EQ(RunPrintJob("messageID=1&dylx=0&XMLKey=<a/>", "/nonexistent/libVornel.so"),
            PRINT_JOB_BAD_BLOCK);
  EXPECT_EQ(RunPrintJob(good, log.folder() + "/libVornel.so"), PRINT_JOB_LOAD_FAILED);
  // Something that is not a library.
  std::string junk = log.folder() + "/junk.so";
  std::ofstream(junk) << "not an ELF file";
  EXPECT_EQ(RunPrintJob(good, junk), PRINT_JOB_LOAD_FAILED);
  std::string text = log.Text();
  EXPECT_NE(text.find("type未解析"), std::string::npos);
  EXPECT_NE(text.find("打印控件加载失败：2"), std::string::npos) << text;
  EXPECT_NE(text.find("打印控件加载失败：8"), std::string::npos);
}

namespace {

// Puts a copy of |source| at |target| by rename, the way an update installs
// the library while the tray runs.
void InstallByRename(const std::string& source, const std::string& target) {
  std::filesystem::copy_file(source, target + ".new",
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::rename(target + ".new", target);
}

}  // namespace

TEST(RunPrintJob, EachJobLoadsTheFileInPlaceThenAndNothingOfTheLastOne) {
  LogCapture log;
  TempFolder calls;
  setenv("STUB_VORNEL_DIR", calls.path().c_str(), 1);
  const std::string library = log.folder() + "/libVornel.so";
  const std::string junk = log.folder() + "/junk";
  std::ofstream(junk) << "not an ELF file";
  // What is renamed into place before each job; the stub's record is
  // "<build> <calls since it was loaded>", none when the job cannot load.
  const struct {
    std::string source;
    int result;
    const char* record;
  } steps[] = {
      {TRAY_STUB_VORNEL, PRINT_JOB_DONE, "1 1\n"},
      {TRAY_STUB_VORNEL, PRINT_JOB_DONE, "1 1\n"},  // same file: a fresh load all the same
      {TRAY_STUB_VORNEL_2, PRINT_JOB_DONE, "2 1\n"},
      {junk, PRINT_JOB_LOAD_FAILED, nullptr},
      {TRAY_STUB_VORNEL, PRINT_JOB_DONE, "1 1\n"},
  };
  int call = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.source);
    InstallByRename(step.source, library);
    EXPECT_EQ(RunPrintJob("messageID=1&dylx=0&type=01&XMLKey=<a/>", library), step.result);
    if (step.record) {
      EXPECT_EQ(ReadFile(calls.path() + "/call-" + std::to_string(call++) + ".load"), step.record);
    }
    void* stays = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(stays, nullptr) << "still mapped after the job";
    if (stays) dlclose(stays);
  }
  unsetenv("STUB_VORNEL_DIR");
}

// The real print-data library in a process with a Qt application, as on the
// tray's print thread: after each job it is gone, and the message handler it
// installed during the job is the one from before again.
TEST(RunPrintJob, RealLibraryLeavesNothingInstalledBehind) {
  const std::string library = PLENWICK_BIN_DIR "/libVornel.so";
  if (access(library.c_str(), F_OK) != 0) GTEST_SKIP() << "no " << library << " in this build";
  LogCapture log;
  static int argc = 1;
  static char arg0[] = "tray_tests";
  static char* argv[] = {arg0, nullptr};
  QApplication app(argc, argv);
  static std::vector<std::string> seen;
  seen.clear();
  const QtMessageHandler before = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext&, const QString& text) { seen.push_back(text.toStdString()); });
  for (int job = 0; job < 2; ++job) {
    SCOPED_TRACE(job);
    // Print type 0, kind 01: the VAT builder reads the request, lays it out
    // and tries to load the print library.
    EXPECT_EQ(RunPrintJob("messageID=1&dylx=0&type=01&XMLKey=<business><body/></business>", library),
              PRINT_JOB_DONE);
    void* stays = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(stays, nullptr) << "still mapped after the job";
    if (stays) dlclose(stays);
    qInfo("after job %d", job);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "after job " + std::to_string(job));
  }
  // No descriptor of the hour's log file stays open.
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    EXPECT_EQ(std::filesystem::read_symlink(fd.path(), ec).string().find("_log.html"), std::string::npos);
  }
  qInstallMessageHandler(before);
}
