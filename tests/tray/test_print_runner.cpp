#include <gtest/gtest.h>

#include <fstream>

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
