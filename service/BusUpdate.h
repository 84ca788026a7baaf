// GET /v1/print/update?url=<base64 of the remote base>&cookie=...: reports the
// installed versions to <base>/kpfw/kjxx/v1/info, checks the signed answer,
// downloads the package from the first working of its three addresses into a
// private folder and installs it: an exe is started, a zip or a rar is
// unpacked into the program folder. The reply is the remote answer, the
// unpacking's last text, or the text of the failure.
// Only allowed hosts are used (UpdateHosts.h); one update runs at a time.
// The package's folder goes once the install has ended: an exe's when the
// started installer ends; a failed install leaves it, until the next update
// removes what earlier ones left.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include "core/CBusBase.h"

enum PackageKind { kPackageExe = 0, kPackageZip = 1, kPackageRar = 2 };

extern const char kUpdateBusy[];

class CBusUpdate : public CBusBase {
 public:
  explicit CBusUpdate(PerIoContext* context) : CBusBase(context) {}
  int BusParser() override;

  // True when reply passed every check (message untouched); else false with
  // the failure text in message.
  static bool CheckVersionInfo(const std::string& reply, std::string& first, std::string& second,
                               std::string& third, std::string& message);
  // MD5 of "KWRM_" + dqsj + "_" + xzdz, lower case.
  static std::string VersionCheckValue(const std::string& dqsj, const std::string& xzdz);
  // The kind by the extension of the address's file name, with the name in
  // *name; -1 with the failure text in message.
  static int PackageKindOf(const std::string& address, std::string* name, std::string& message);
  // The version list posted to the remote service.
  static std::string GetClientVersionInfo();

  // Downloads address into folder; true with the file in localPath.
  bool DownloadPackage(const std::string& address, const std::string& folder,
                       std::string& localPath, std::string& message);

  int PackageKind() const { return m_packageKind; }

 private:
  // False when the install failed (logged, the text in message). A started
  // installer's pid goes to *installer; installerHeld runs with its pid
  // before any of its program runs, installerEnded once it has ended.
  bool Install(const std::string& localPath, std::string& message, pid_t* installer,
               const std::function<void(pid_t)>& installerHeld,
               const std::function<void()>& installerEnded);

  int m_packageKind = kPackageExe;
};
