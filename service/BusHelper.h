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
#include "platform/named_object.h"

// The tray whose heart was accepted last.
struct TrayHeart {
  // The port it listens on; 0 until the first heart.
  uint16_t port = 0;
  // The user it runs as: the only user, besides the service, that can open
  // a job's block and event. kNamedObjectOwnUser until the first heart.
  uid_t uid = plenwick::kNamedObjectOwnUser;
};

// A TrayHeart kept in one atomic word: a reader gets the port and the user of
// one heart, never one tray's port with another tray's user.
class TrayHeartRecord {
 public:
  TrayHeart load() const {
    const uint64_t word = m_word.load();
    TrayHeart heart;
    heart.port = static_cast<uint16_t>(word & 0xFFFF);
    heart.uid = static_cast<uid_t>(word >> 16);
    return heart;
  }
  void store(const TrayHeart& heart) { m_word.store(Pack(heart)); }

 private:
  static constexpr uint64_t Pack(const TrayHeart& heart) {
    return (uint64_t{heart.uid} << 16) | heart.port;
  }
  std::atomic<uint64_t> m_word{Pack(TrayHeart{})};
};

// Written by the heart handler, read by the printer handler.
extern TrayHeartRecord LastTrayHeart;

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
