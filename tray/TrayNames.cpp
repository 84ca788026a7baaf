#include "tray/TrayNames.h"

const char kTrayInstanceEventName[] = "Global\\{36B93EAF-AA0A-7D6A-BED1-F31E19A86397}";
const char kPrintBusyEventName[] = "Global\\{0C625C91-15F6-18B1-8FBB-030E3FD01CA8}";
const char kTrayVersion[] = "1.5";
