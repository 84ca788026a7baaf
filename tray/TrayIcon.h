// The notification icon and its menu, living on the print thread (the one Qt
// GUI thread of the tray). Menu: "安全设置" opens the security-settings
// document of the program folder, "退出" asks the tray to end.
//
// On X11 the notification area may come after the tray (autostart before the
// panel) or go and come back (a restarted panel). Qt docks a shown icon into
// each new area by itself; this class shows the icon even before any area
// exists and shows the start balloon again each time one appears.
#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class TrayHostWatch;

class TrayIcon : public QObject {
  Q_OBJECT

 public:
  // |onExit| runs when "退出" is chosen.
  explicit TrayIcon(std::function<void()> onExit, QObject* parent = nullptr);
  ~TrayIcon() override;

  // Adds the icon and shows the start balloon. On X11 without a notification
  // area yet, the icon and the balloon come when one appears. False when the
  // icon cannot be shown: no notification area and not X11 (the tray then
  // runs without icon).
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
  void ShowStartBalloon();
  void OnTrayHostAppeared();

  std::function<void()> m_onExit;
  QMenu m_menu;
  std::unique_ptr<QSystemTrayIcon> m_icon;
  std::unique_ptr<TrayHostWatch> m_hostWatch;  // X11 only
};
