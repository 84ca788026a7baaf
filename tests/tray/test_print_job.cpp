#include <gtest/gtest.h>

#include "tests/tray/tray_test_util.h"
#include "tray/PrintJob.h"

TEST(SplitPrintJob, PlainBlockSplitsAsKeyValuePieces) {
  StringMap m;
  SplitPrintJob("messageID=7&dylx=1&type=01&XMLKey=<a>b</a>", m);
  EXPECT_EQ(m, (StringMap{{"messageID", "7"}, {"dylx", "1"}, {"type", "01"},
                          {"XMLKey", "<a>b</a>"}}));

  // Order is free; a value may hold "="; a later equal key wins.
  m.clear();
  SplitPrintJob("XMLKey=<a x=\"1\"/>&type=02&dylx=0&messageID=1&type=03", m);
  EXPECT_EQ(m["XMLKey"], "<a x=\"1\"/>");
  EXPECT_EQ(m["type"], "03");
}

TEST(SplitPrintJob, AmpersandInsideAValueStaysWithIt) {
  StringMap m;
  const std::string xml = "<r><gfmc>A&amp;B 公司</gfmc><bz>x&lt;y&amp;&amp;z=1</bz></r>";
  SplitPrintJob("messageID=9&dylx=0&XMLKey=" + xml + "&type=01", m);
  EXPECT_EQ(m["XMLKey"], xml);
  EXPECT_EQ(m["type"], "01");
  EXPECT_EQ(m.size(), 4u);

  // XMLKey last, ending in an entity.
  m.clear();
  SplitPrintJob("type=01&dylx=0&messageID=9&XMLKey=<a>&amp;</a>&amp;", m);
  EXPECT_EQ(m["XMLKey"], "<a>&amp;</a>&amp;");

  // Pieces before the first field name split as plain pieces.
  m.clear();
  SplitPrintJob("junk&x=1&dylx=2", m);
  EXPECT_EQ(m, (StringMap{{"x", "1"}, {"dylx", "2"}}));
}

TEST(ParsePrintJob, ReadsTheFourFields) {
  PrintJobFields job;
  ASSERT_TRUE(ParsePrintJob("messageID=m1&dylx=3&type=xp&XMLKey=<b/>", &job));
  EXPECT_EQ(job.messageId, "m1");
  EXPECT_EQ(job.printType, 3);
  EXPECT_EQ(job.kind, "xp");
  EXPECT_EQ(job.xml, "<b/>");

  // A print type that is not a number is 0.
  ASSERT_TRUE(ParsePrintJob("messageID=m1&dylx=abc&type=xp&XMLKey=<b/>", &job));
  EXPECT_EQ(job.printType, 0);
}

TEST(ParsePrintJob, FirstMissingFieldIsLogged) {
  LogCapture log;
  PrintJobFields job;
  EXPECT_FALSE(ParsePrintJob("messageID=1&dylx=0&XMLKey=<a/>", &job));
  EXPECT_FALSE(ParsePrintJob("dylx=0&type=01", &job));  // messageID first
  EXPECT_FALSE(ParsePrintJob("messageID=1&type=01&XMLKey=<a/>", &job));
  EXPECT_FALSE(ParsePrintJob("messageID=1&dylx=0&type=01", &job));
  std::string text = log.Text();
  EXPECT_NE(text.find("type未解析"), std::string::npos) << text;
  EXPECT_NE(text.find("messageID未解析"), std::string::npos);
  EXPECT_NE(text.find("dylx未解析"), std::string::npos);
  EXPECT_NE(text.find("XMLKey未解析"), std::string::npos);
  // Only the first missing field of each block is reported.
  EXPECT_EQ(text.find("type未解析", text.find("type未解析") + 1), std::string::npos);
}
