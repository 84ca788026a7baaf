#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>

#include <fstream>
#include <sstream>

#include "tray/TrayIcon.h"

namespace {

QApplication* App() {
  static int argc = 1;
  static char arg0[] = "tray_tests";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

}  // namespace

TEST(TrayIcon, MenuTipAndDocument) {
  App();
  int exits = 0;
  TrayIcon icon([&] { ++exits; });
  QList<QAction*> actions = icon.Menu()->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_EQ(actions[0]->text(), QString::fromUtf8("安全设置"));
  EXPECT_EQ(actions[1]->text(), QString::fromUtf8("退出"));
  actions[1]->trigger();
  EXPECT_EQ(exits, 1);

  EXPECT_EQ(TrayIcon::ToolTip(), QString::fromUtf8("Plenwick：1.5"));
  EXPECT_TRUE(TrayIcon::DocumentPath().endsWith(
      QString::fromUtf8("/Corvant系统安全配置说明文档.docx")));
  // The offscreen platform has no notification area: no icon, no failure.
  EXPECT_FALSE(icon.Show());
  EXPECT_EQ(icon.Icon(), nullptr);
}

// The shipped document is a real Word package: a zip with the three parts a
// reader needs.
TEST(TrayIcon, SecurityDocumentIsAWordPackage) {
  std::ifstream in(PLENWICK_SOURCE_DIR "/resources/Corvant系统安全配置说明文档.docx",
                   std::ios::binary);
  ASSERT_TRUE(in);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string zip = ss.str();
  ASSERT_GE(zip.size(), 22u);
  EXPECT_EQ(zip.compare(0, 4, "PK\x03\x04"), 0);
  EXPECT_NE(zip.find("PK\x05\x06"), std::string::npos);  // end of central directory
  for (const char* part : {"[Content_Types].xml", "_rels/.rels", "word/document.xml"})
    EXPECT_NE(zip.find(part), std::string::npos) << part;
}
