// Pallowen's entry, kept out of main.cpp so tests can reach its pieces.
#pragma once

// The text a second tray shows before it ends.
extern const char kAlreadyRunningText[];

// Shows "打印服务已经在运行，请查看系统托盘图标": a message box when there is a
// display, the text on stderr otherwise.
void ShowAlreadyRunning();

// Asks the tray to end, the same way SIGTERM does.
void RequestTrayExit();

int TrayMain(int argc, char** argv);
