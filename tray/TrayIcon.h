// The notification icon and its menu, living on the print thread (the one Qt
// GUI thread of the tray). Menu: "安全设置" opens the security-settings
// document of the program folder, "退出" asks the tray to end.
#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class TrayIcon : public QObject {
  Q_OBJECT

 public:
  // |onExit| runs when "退出" is chosen.
  explicit TrayIcon(std::function<void()> onExit, QObject* parent = nullptr);
  ~TrayIcon() override;

  // Adds the icon and shows the start balloon; false when the desktop has no
  // notification area (the tray then runs without icon).
  bool Show();
  void Hide();

  QMenu* Menu() { return &m_menu; }
  QSystemTrayIcon* Icon() { return m_icon.get(); }

  static QString ToolTip();
  static QString DocumentPath();

 private slots:
  void OnActivated(QSystemTrayIcon::ActivationReason reason);
  void OnSecuritySettings();

 private:
  static QIcon MakeIcon();

  std::function<void()> m_onExit;
  QMenu m_menu;
  std::unique_ptr<QSystemTrayIcon> m_icon;
};
