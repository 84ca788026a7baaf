// The notification icon against a real X11 tray host (trayer) on a private
// Xvfb display: a binary of its own, since its application must use X11
// while the other tray tests use the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>

#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "tests/tray/tray_test_util.h"
#include "tray/TrayIcon.h"

namespace {

const char kAppearedLine[] = "系统托盘已出现，显示托盘图标和启动提示";

// Whether a window of this process sits inside another window than the
// root: the host has embedded (docked) our icon.
bool OursBelow(xcb_connection_t* c, xcb_window_t window, int depth, xcb_atom_t pidAtom) {
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
  if (tree == nullptr) return false;
  const xcb_window_t* kids = xcb_query_tree_children(tree);
  bool found = false;
  for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
    if (depth > 0) {
      xcb_get_property_reply_t* pid = xcb_get_property_reply(
          c, xcb_get_property(c, 0, kids[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
      found = pid != nullptr && xcb_get_property_value_length(pid) == 4 &&
              *static_cast<uint32_t*>(xcb_get_property_value(pid)) == uint32_t(getpid());
      std::free(pid);
    }
    if (!found) found = OursBelow(c, kids[i], depth + 1, pidAtom);
  }
  std::free(tree);
  return found;
}

bool Docked() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  bool docked = false;
  if (xcb_connection_has_error(c) == 0) {
    const char name[] = "_NET_WM_PID";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr);
    if (atom != nullptr && atom->atom != XCB_ATOM_NONE)
      docked = OursBelow(c, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, atom->atom);
    std::free(atom);
  }
  xcb_disconnect(c);
  return docked;
}

// Qt's balloon is a top-level widget of its own.
QWidget* Balloon() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qstrcmp(w->metaObject()->className(), "QBalloonTip") == 0 && w->isVisible()) return w;
  return nullptr;
}

bool PumpUntil(const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// SIGTERM, so Xvfb ends cleanly.
struct Stop {
  void operator()(QProcess* p) const {
    p->terminate();
    if (!p->waitForFinished(2000)) p->kill();
    p->waitForFinished(1000);
    delete p;
  }
};
typedef std::unique_ptr<QProcess, Stop> Child;

}  // namespace

// A tray started before the notification area gets its icon and start
// balloon when the area appears, and again when the area is restarted.
TEST(TrayHost, IconAndBalloonFollowTheNotificationArea) {
  const QString xvfb = QStandardPaths::findExecutable("Xvfb");
  const QString trayer = QStandardPaths::findExecutable("trayer");
  if (xvfb.isEmpty() || trayer.isEmpty()) GTEST_SKIP() << "needs Xvfb and trayer";

  // Xvfb makes /tmp/.X11-unix/X<n> and /tmp/.X<n>-lock, and leaves them when
  // it is killed: it runs in a mount namespace of its own whose /tmp is a
  // tmpfs, gone with it. The clients reach it through its abstract socket,
  // private to the test's network namespace (tests/support/isolated.sh).
  // -displayfd: Xvfb picks a free display and prints its number when ready.
  const QString unshare = QStandardPaths::findExecutable("unshare");
  if (unshare.isEmpty()) GTEST_SKIP() << "needs unshare (util-linux)";
  Child server(new QProcess);
  server->start(unshare, {"--mount", "--propagation", "private", "sh", "-c",
                          "mount -t tmpfs -o mode=1777,size=16m plenwick-xvfb-tmp /tmp && "
                          "exec \"$0\" \"$@\"",
                          xvfb, "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
  if (!server->waitForReadyRead(10000))
    GTEST_SKIP() << "Xvfb did not start with a /tmp of its own: "
                 << server->readAllStandardError().trimmed().toStdString();
  const QByteArray display = ":" + server->readAllStandardOutput().trimmed();
  setenv("DISPLAY", display.constData(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);

  static int argc = 1;
  static char arg0[] = "tray_x11_tests";
  static char* argv[] = {arg0, nullptr};
  QApplication app(argc, argv);
  LogCapture log;

  TrayIcon icon([] {});
  EXPECT_TRUE(icon.Show());  // no area yet: the icon waits for one
  EXPECT_FALSE(Docked());

  auto startHost = [&] {
    Child host(new QProcess);
    host->start(trayer, {"--edge", "top", "--align", "right"});
    return host;
  };
  auto killHost = [](Child& host) {  // a panel that crashes or is killed
    host->kill();
    host->waitForFinished(1000);
    host.reset();
  };
  Child host = startHost();
  ASSERT_TRUE(PumpUntil([] { return Docked() && Balloon() != nullptr; }))
      << "docked " << Docked();

  // The panel ends and comes back.
  Balloon()->hide();
  killHost(host);
  ASSERT_TRUE(PumpUntil([] { return !Docked(); }));
  host = startHost();
  ASSERT_TRUE(PumpUntil([] { return Docked() && Balloon() != nullptr; }))
      << "docked " << Docked();

  icon.Hide();
  killHost(host);
  EXPECT_EQ(Count(log.Text(), kAppearedLine), 2u);
}
