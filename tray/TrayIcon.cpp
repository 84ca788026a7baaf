#include "tray/TrayIcon.h"

#include <QDesktopServices>
#include <QPainter>
#include <QPixmap>
#include <QUrl>

#include "core/Log.h"
#include "platform/process_facts.h"
#include "tray/TrayNames.h"

namespace {
const char kTitle[] = "Plenwick";
const char kDocument[] = "Corvant系统安全配置说明文档.docx";
}  // namespace

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
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  if (!m_icon) {
    m_icon.reset(new QSystemTrayIcon(MakeIcon()));
    m_icon->setToolTip(ToolTip());
    m_icon->setContextMenu(&m_menu);
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, &TrayIcon::OnActivated);
  }
  m_icon->show();
  m_icon->showMessage(QString::fromUtf8("说明"), QString::fromUtf8("Plenwick已启动"),
                      QSystemTrayIcon::Information);
  return true;
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
