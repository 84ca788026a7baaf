// Pallowen: the tray program of the desktop session.
#include "tray/TrayApp.h"

int main(int argc, char** argv) { return TrayMain(argc, argv); }
