// Machine-wide names the tray shares with the service.
#pragma once

// Held for the whole run of a tray: a second tray finds it and ends.
extern const char kTrayInstanceEventName[];
// Held while a job is inside the print-data library (the status says "working").
extern const char kPrintBusyEventName[];

// The tray's version text, shown in the icon's tip.
extern const char kTrayVersion[];
