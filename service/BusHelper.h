// Kelvorn's request handlers and what they share with the tray.
//
//   /v1/print/status   CBusStatus   is a tray running, is it printing (JSONP)
//   /v1/print/printer  CBusPrinter  hands a print job to the tray
//   /v1/print/upload   CBusUpload   sends the hardware description
//   /v1/print/update   CBusUpdate   checks for, downloads and installs an update
//   /v1/print/heart    CBusHeart    the tray reports its port
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "core/CBusBase.h"

// The tray's listening port from its last heart post; 0 until the first.
extern std::atomic<uint16_t> TrayPort;
// The user that tray runs as: the only user, besides the service, that can
// open a job's block and event. kNamedObjectOwnUser until the first heart.
extern std::atomic<uid_t> TrayUid;

// Held by the tray for its whole run.
extern const char kTrayInstanceEventName[];
// Held by the tray's print thread while a job is inside the print library.
extern const char kPrintBusyEventName[];
// The version the status query answers with.
extern const char kServiceVersion[];

class CBusHelper {
 public:
  // New handler for the request's path, or null with the reply in the body
  // (BusFactory.cpp).
  static CBusBase* GetBus(PerIoContext* context);
};

// Whether a JSONP callback name is safe to put in front of the reply: 1 to 64
// letters, digits, "_", "$" and "." (a page could inject script through
// anything else).
bool IsSafeCallback(const std::string& callback);

// Whether the socket listening on 127.0.0.1:port belongs to a running
// Pallowen of this program folder: the only sender whose heart counts. When
// it does and uid is not null, *uid is that Pallowen's effective user.
bool IsOurTrayPort(uint16_t port, uid_t* uid = nullptr);

// Removes the job objects whose creator no longer runs (at start and at every
// heart); logs and returns how many.
int SweepJobObjects(const char* label);

// The query value of key, "" when absent.
std::string QueryValue(const HttpRequest& request, const char* key);
