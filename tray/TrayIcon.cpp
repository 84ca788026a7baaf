#include "tray/TrayIcon.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QUrl>

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

#include "core/Log.h"
#include "platform/process_facts.h"
#include "tray/TrayNames.h"

namespace {
const char kTitle[] = "Plenwick";
const char kDocument[] = "Corvant系统安全配置说明文档.docx";
const char kLabel[] = "TrayWndProc";

xcb_atom_t InternAtom(xcb_connection_t* c, const std::string& name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
  if (reply == nullptr) return XCB_ATOM_NONE;
  xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}
}  // namespace

// A notification area of the X11 system-tray protocol owns the selection
// _NET_SYSTEM_TRAY_S<screen> and announces each take-over with a MANAGER
// client message to the root window; this filter reports those messages.
class TrayHostWatch : public QAbstractNativeEventFilter {
 public:
  explicit TrayHostWatch(std::function<void()> onAppeared)
      : m_onAppeared(std::move(onAppeared)) {}

  // Learns the two atoms over a short connection of its own (atoms are the
  // same for every client of the display); false when it cannot.
  bool Open() {
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(c) == 0) {
      m_manager = InternAtom(c, "MANAGER");
      m_selection = InternAtom(c, "_NET_SYSTEM_TRAY_S" + std::to_string(screen));
    }
    xcb_disconnect(c);
    return m_manager != XCB_ATOM_NONE && m_selection != XCB_ATOM_NONE;
  }

  bool nativeEventFilter(const QByteArray& type, void* message, long*) override {
    if (type != "xcb_generic_event_t") return false;
    const xcb_generic_event_t* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
    const xcb_client_message_event_t* m =
        reinterpret_cast<const xcb_client_message_event_t*>(event);
    if (m->format == 32 && m->type == m_manager && m->data.data32[1] == m_selection)
      m_onAppeared();
    return false;  // Qt's own tracker docks the icon on the same message
  }

 private:
  std::function<void()> m_onAppeared;
  xcb_atom_t m_manager = XCB_ATOM_NONE;
  xcb_atom_t m_selection = XCB_ATOM_NONE;
};

TrayIcon::TrayIcon(std::function<void()> onExit, QObject* parent)
    : QObject(parent), m_onExit(std::move(onExit)) {
  QAction* settings = m_menu.addAction(QString::fromUtf8("安全设置"));
  QAction* quit = m_menu.addAction(QString::fromUtf8("退出"));
  connect(settings, &QAction::triggered, this, &TrayIcon::OnSecuritySettings);
  connect(quit, &QAction::triggered, this, [this] {
    if (m_onExit) m_onExit();
  });
}

TrayIcon::~TrayIcon() { Hide(); }

QString TrayIcon::ToolTip() {
  return QString::fromUtf8(kTitle) + QString::fromUtf8("：") + QString::fromUtf8(kTrayVersion);
}

QString TrayIcon::DocumentPath() {
  return QString::fromStdString(plenwick::ProgramFolder()) + QString::fromUtf8(kDocument);
}

// The program's icon, drawn here: a printer with a sheet of paper.
QIcon TrayIcon::MakeIcon() {
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xFF, 0xFF, 0xFF));
  p.drawRect(18, 6, 28, 22);
  p.setBrush(QColor(0x1E, 0x5A, 0xA8));
  p.drawRoundedRect(6, 24, 52, 26, 6, 6);
  p.setBrush(QColor(0xFF, 0xFF, 0xFF));
  p.drawRect(16, 40, 32, 18);
  p.setBrush(QColor(0xC8, 0x32, 0x32));
  p.drawRect(20, 46, 24, 3);
  p.drawRect(20, 52, 16, 3);
  return QIcon(pixmap);
}

bool TrayIcon::Show() {
  const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
  const bool available = QSystemTrayIcon::isSystemTrayAvailable();
  if (!available && !x11) return false;
  if (!m_icon) {
    m_icon.reset(new QSystemTrayIcon(MakeIcon()));
    m_icon->setToolTip(ToolTip());
    m_icon->setContextMenu(&m_menu);
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, &TrayIcon::OnActivated);
  }
  if (x11 && !m_hostWatch) {
    // Queued: the balloon needs the icon that Qt docks on the same message.
    std::unique_ptr<TrayHostWatch> watch(new TrayHostWatch([this] {
      QMetaObject::invokeMethod(this, [this] { OnTrayHostAppeared(); }, Qt::QueuedConnection);
    }));
    if (watch->Open()) {
      QCoreApplication::instance()->installNativeEventFilter(watch.get());
      m_hostWatch = std::move(watch);
    }
  }
  m_icon->show();
  if (available)
    ShowStartBalloon();
  else
    WriteLog("桌面还没有系统托盘，托盘出现时显示图标", kLabel, __LINE__);
  return true;
}

void TrayIcon::ShowStartBalloon() {
  m_icon->showMessage(QString::fromUtf8("说明"), QString::fromUtf8("Plenwick已启动"),
                      QSystemTrayIcon::Information);
}

// A notification area appeared (a panel that started late or restarted): Qt
// has docked the icon into it; the start balloon says so again. Nothing once
// the icon was hidden for the exit.
void TrayIcon::OnTrayHostAppeared() {
  if (!m_icon || !m_icon->isVisible()) return;
  WriteLog("系统托盘已出现，显示托盘图标和启动提示", kLabel, __LINE__);
  ShowStartBalloon();
}

void TrayIcon::Hide() {
  if (m_icon) m_icon->hide();
}

void TrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Trigger && m_icon)
    m_icon->showMessage(QString::fromUtf8("说明"), QString::fromUtf8(kTitle),
                        QSystemTrayIcon::Information);
}

void TrayIcon::OnSecuritySettings() {
  // A missing document or no program to open it: nothing happens.
  QDesktopServices::openUrl(QUrl::fromLocalFile(DocumentPath()));
}
