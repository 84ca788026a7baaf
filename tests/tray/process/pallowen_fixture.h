// A temporary program folder with Kelvorn, Pallowen and the recording stub
// libVornel.so, curl as the browser. Every process the tests start, and every
// Kelvorn the tray starts from this folder, is ended by pid.
#pragma once

#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDomDocument>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/processes.h"
#include "tests/support/file_util.h"
#include "tests/support/process_util.h"

inline bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Polls |check| every 50 ms until it holds or |ms| have passed.
template <typename F>
bool WaitFor(int ms, F check) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (check()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// Elements, attributes and texts equal, whatever the attribute order.
inline bool SameXml(const std::string& a, const std::string& b, std::string* why) {
  QDomDocument da, db;
  if (!da.setContent(QString::fromStdString(a)) || !db.setContent(QString::fromStdString(b))) {
    *why = "not XML";
    return false;
  }
  std::function<bool(const QDomNode&, const QDomNode&)> same = [&](const QDomNode& x,
                                                                   const QDomNode& y) {
    if (x.nodeType() != y.nodeType() || x.nodeName() != y.nodeName()) return false;
    if (x.isText() && x.nodeValue() != y.nodeValue()) return false;
    if (x.isElement()) {
      QDomNamedNodeMap ax = x.attributes(), ay = y.attributes();
      if (ax.count() != ay.count()) return false;
      for (int i = 0; i < ax.count(); ++i) {
        QDomNode other = ay.namedItem(ax.item(i).nodeName());
        if (other.isNull() || other.nodeValue() != ax.item(i).nodeValue()) return false;
      }
    }
    QDomNodeList cx = x.childNodes(), cy = y.childNodes();
    if (cx.count() != cy.count()) return false;
    for (int i = 0; i < cx.count(); ++i)
      if (!same(cx.at(i), cy.at(i))) return false;
    return true;
  };
  if (!same(da.documentElement(), db.documentElement())) {
    *why = "documents differ";
    return false;
  }
  return true;
}

class PallowenProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    ASSERT_TRUE(folder_.CopyProgram("Kelvorn"));
    ASSERT_TRUE(folder_.CopyProgram("Pallowen"));
    std::error_code ec;
    std::filesystem::copy_file(TRAY_STUB_VORNEL, folder_.path() + "/libVornel.so", ec);
    ASSERT_FALSE(ec);
    calls_ = folder_.path() + "/calls";
    hold_ = folder_.path() + "/hold";
    std::filesystem::create_directory(calls_);
    ASSERT_FALSE(WaitForPort(18086, 0)) << "port 18086 is taken";
  }

  void TearDown() override {
    // The tray first (it would start Kelvorn again), then every Kelvorn of
    // this folder, whoever started it.
    for (ChildProcess& tray : trays_) tray.Kill();
    kelvorn_.Kill();
    for (pid_t pid : Kelvorns()) plenwick::ProcessKill(pid);
    WaitFor(5000, [this] { return Kelvorns().empty(); });
  }

  std::string Program(const char* name) const { return folder_.path() + "/" + name; }

  // Kelvorn processes (not zombies) running from this test's folder.
  std::vector<pid_t> Kelvorns() const {
    std::vector<pid_t> mine;
    for (pid_t pid : plenwick::ProcessFindAll("Kelvorn")) {
      char buf[PATH_MAX];
      ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), buf, sizeof buf - 1);
      if (n > 0 && std::string(buf, size_t(n)).rfind(folder_.path() + "/", 0) == 0)
        mine.push_back(pid);
    }
    return mine;
  }

  static bool IsZombie(pid_t pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
  }

  std::vector<std::string> TrayEnv() const {
    return {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=offscreen",
            "STUB_VORNEL_DIR=" + calls_, "STUB_VORNEL_HOLD=" + hold_};
  }

  // Starts a tray; slot picks one of two.
  void StartTray(int slot = 0) {
    ASSERT_TRUE(trays_[slot].Start({Program("Pallowen")}, TrayEnv(), true));
    ASSERT_EQ(trays_[slot].ReadLine(10000), "This is tray");
  }

  void StartKelvorn() {
    ASSERT_TRUE(kelvorn_.Start({Program("Kelvorn"), "-APP_MODE"}));
    ASSERT_TRUE(WaitForPort(18086, 10000));
  }

  std::string Curl(std::vector<std::string> args) {
    std::vector<std::string> argv = {"/usr/bin/curl", "-sS", "--max-time", "60", "--cacert",
                                     folder_.ServerDir() + "/root.crt"};
    argv.insert(argv.end(), args.begin(), args.end());
    int code = -1;
    std::string reply = RunCapture(argv, 70000, &code);
    return code == 0 ? reply : "(curl " + std::to_string(code) + ")";
  }

  std::string Status() { return Curl({"https://127.0.0.1:18086/v1/print/status?callback=cb"}); }

  // Posts a print request the way the browser page does: a form body.
  std::string Print(const std::string& messageId, const std::string& dylx,
                    const std::string& type, const std::string& xml) {
    std::string body = "messageID=" + messageId + "&dylx=" + dylx + "&type=" + type +
                       "&XMLKey=" + xml;
    std::string file = folder_.path() + "/body-" + messageId;
    std::ofstream(file, std::ios::binary) << body;
    return Curl({"-H", "Content-Type: application/x-www-form-urlencoded", "--data-binary",
                 "@" + file,
                 "https://127.0.0.1:18086/v1/print/printer?messageID=" + messageId});
  }

  // Prints until the service knows the tray's port (its first heart).
  std::string PrintOnceTheTrayIsKnown(const std::string& id, const std::string& xml,
                                      int ms = 15000) {
    std::string reply;
    WaitFor(ms, [&] {
      reply = Print(id, "0", "01", xml);
      return reply != "打印数据提交失败";
    });
    return reply;
  }

  std::string CallFile(int n, const char* ext) const {
    return calls_ + "/call-" + std::to_string(n) + "." + ext;
  }

  TempProgramFolder folder_;
  std::string calls_, hold_;
  ChildProcess kelvorn_;
  ChildProcess trays_[2];
};
