#include "service/BusUpdate.h"

#include <cjson/cJSON.h>
#include <curl/curl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

#include "core/Log.h"
#include "core/StrUtil.h"
#include "core/libcurl/httpclient2.h"
#include "platform/process_facts.h"
#include "platform/process_scope.h"
#include "platform/processes.h"
#include "service/BusHelper.h"
#include "service/RemoteService.h"
#include "service/ServiceMain.h"
#include "service/Unrar.h"
#include "service/Unzip.h"

const char kUpdateBusy[] = "正在升级，请稍后再试";

namespace {

const char kLabel[] = "CBusUpdate::BusParser";
const char kDownloadLabel[] = "CBusUpdate::DownloadPackage";
const char kInfoPath[] = "/kpfw/kjxx/v1/info";
const char kCheckPrefix[] = "KWRM_";
const char kBadReply[] = "服务端返回的版本信息数据格式不合法";
const char kFolderPrefix[] = "plenwick-update-";
// In a package's folder while its installer runs: "<pid> <start time>".
const char kInstallerMark[] = ".installer";
// Installers run in a systemd scope of this name and their pid.
const char kInstallerScopePrefix[] = "plenwick-installer";

constexpr long kRemotePostSeconds = 20;
constexpr curl_off_t kDownloadMax = 256 << 20;
constexpr long kConnectSeconds = 20;
constexpr long kLowSpeedBytes = 1024;  // slower than this ...
constexpr long kLowSpeedSeconds = 60;  // ... for this long ends the download
constexpr long kDownloadMaxSeconds = 3600;

// One update at a time: two would install over each other.
std::mutex g_updateLock;

struct EasyFree {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct JsonFree {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};

void RemoveFolder(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

// Whether the installer recorded in folder still runs; its start time tells
// it from a later process with the same pid.
bool InstallerRuns(const std::string& folder) {
  std::ifstream mark(folder + "/" + kInstallerMark);
  const std::string text{std::istreambuf_iterator<char>(mark), std::istreambuf_iterator<char>()};
  return plenwick::ProcessIdentityRuns(text) == 1;
}

// Removes what earlier updates left: the folders of failed installs and of
// installers that ended while no service was there to see it. Only folders
// of our own user count: anyone may make look-alikes in a shared /tmp.
void RemoveEarlierFolders(const std::string& temp) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string path = it->path().string();
    if (it->path().filename().string().rfind(kFolderPrefix, 0) != 0) continue;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) continue;
    if (!InstallerRuns(path)) RemoveFolder(path);
  }
}

// A fresh private folder under the temporary folder, made once the folders
// of earlier updates are gone; removed with all it holds when the update
// ends, unless kept for its installer or after a failed install.
class DownloadFolder {
 public:
  DownloadFolder() {
    std::error_code ec;
    std::string temp = std::filesystem::temp_directory_path(ec).string();
    if (ec) temp = "/tmp";
    RemoveEarlierFolders(temp);
    std::string pattern = temp + "/" + kFolderPrefix + "XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
  }
  ~DownloadFolder() {
    if (!path_.empty() && !keep_) RemoveFolder(path_);
  }
  DownloadFolder(const DownloadFolder&) = delete;
  DownloadFolder& operator=(const DownloadFolder&) = delete;
  const std::string& path() const { return path_; }
  void Keep() { keep_ = true; }

 private:
  std::string path_;
  bool keep_ = false;
};

// Tells a later update, also of a restarted service, that the installer of
// folder still runs. Made while the installer is held before its program
// runs: one that stops this service at once still finds its folder kept.
// Nothing when it has ended already.
void MarkInstaller(pid_t pid, const std::string& folder) {
  const std::string identity = plenwick::ProcessIdentity(pid);
  if (!identity.empty()) std::ofstream(folder + "/" + kInstallerMark) << identity;
}

int StopOverLimit(void*, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
  return now > kDownloadMax ? 1 : 0;
}

// GET of address into path over verified https; libcurl's result, with a
// status other than 2xx as CURLE_HTTP_RETURNED_ERROR.
int Download(const std::string& address, const std::string& path) {
  std::unique_ptr<CURL, EasyFree> curl(curl_easy_init());
  if (!curl) return CURLE_FAILED_INIT;
  CURL* h = curl.get();
  std::string root = ProgramRootPath();
  DownloadTarget target{path.c_str(), nullptr};
  UseVerifiedTls(h, &root);
  curl_easy_setopt(h, CURLOPT_URL, address.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CurlWriteToFile);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &target);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, kDownloadMaxSeconds);
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, kDownloadMax);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, StopOverLimit);
  int rc = curl_easy_perform(h);
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (target.stream != nullptr && fclose(target.stream) != 0 && rc == CURLE_OK)
    rc = CURLE_WRITE_ERROR;
  if (rc == CURLE_OK && (status < 200 || status > 299)) rc = CURLE_HTTP_RETURNED_ERROR;
  // An empty body opens no file: the package is then an empty file.
  if (rc == CURLE_OK && target.stream == nullptr) {
    FILE* empty = fopen(path.c_str(), "wbe");
    if (empty == nullptr) return CURLE_WRITE_ERROR;
    fclose(empty);
  }
  return rc;
}

// The string member name of object (case-insensitive), or null.
const char* StringMember(cJSON* object, const char* name) {
  cJSON* item = cJSON_GetObjectItem(object, name);
  return cJSON_IsString(item) ? item->valuestring : nullptr;
}

std::string ProgramFolderPath() {
  std::string folder = plenwick::ProgramFolder();
  if (!folder.empty() && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

std::string CBusUpdate::VersionCheckValue(const std::string& dqsj, const std::string& xzdz) {
  std::string input = kCheckPrefix + dqsj + "_" + xzdz;
  std::string value = Md5Hex(input.data(), input.size());
  ToLower(value);
  return value;
}

bool CBusUpdate::CheckVersionInfo(const std::string& reply, std::string& first,
                                  std::string& second, std::string& third, std::string& message) {
  std::unique_ptr<cJSON, JsonFree> root(cJSON_Parse(reply.c_str()));
  if (!root) {
    message = kBadReply;
    return false;
  }
  auto member = [&](const char* name, const char** value) {
    *value = StringMember(root.get(), name);
    if (*value == nullptr) message = std::string(kBadReply) + "：" + name;
    return *value != nullptr;
  };
  const char *code, *msg, *sfsj, *x0, *x1, *x2, *jym, *dqsj;
  if (!member("code", &code) || !member("msg", &msg)) return false;
  if (std::string(code) != "00") {
    message = msg;
    return false;
  }
  if (!member("sfsj", &sfsj)) return false;
  if (std::string(sfsj) != "Y") {
    message = "服务端禁止升级";
    return false;
  }
  if (!member("xzdz", &x0) || !member("xzdz_1", &x1) || !member("xzdz_2", &x2)) return false;
  if (*x0 == '\0' && *x1 == '\0' && *x2 == '\0') {
    message = "自动升级资源下载地址为空";
    return false;
  }
  if (!member("jym", &jym) || !member("dqsj", &dqsj)) return false;
  std::string expected = jym;
  ToLower(expected);
  if (VersionCheckValue(dqsj, x0) != expected) {
    message = "版本信息校验失败";
    return false;
  }
  first = x0;
  second = x1;
  third = x2;
  return true;
}

int CBusUpdate::PackageKindOf(const std::string& address, std::string* name,
                              std::string& message) {
  std::string local = Utf8ToAnsi(address);
  size_t slash = local.rfind('/');
  if (slash == std::string::npos) {
    message = "通过资源下载地址未解析到文件名称";
    return -1;
  }
  *name = local.substr(slash + 1);
  size_t dot = name->rfind('.');
  if (dot == std::string::npos) {
    message = "通过文件名称未解析到文件格式";
    return -1;
  }
  std::string extension = name->substr(dot + 1);
  ToLower(extension);
  static const struct {
    const char* extension;
    int kind;
  } kKinds[] = {{"exe", kPackageExe}, {"zip", kPackageZip}, {"rar", kPackageRar}};
  for (const auto& k : kKinds)
    if (extension == k.extension) return k.kind;
  message = "不支持的文件格式（仅支持exe和zip文件)";
  return -1;
}

std::string CBusUpdate::GetClientVersionInfo() {
  const std::string versions[][2] = {
      {"01", kServiceVersion},
      {"02", LoadDllVersion(kVornelLibrary)},
      {"03", LoadDllVersion(kTirrelLibrary)},
  };
  std::unique_ptr<cJSON, JsonFree> list(cJSON_CreateArray());
  if (!list) return std::string();
  for (const auto& v : versions) {
    cJSON* item = cJSON_CreateObject();
    if (item == nullptr || !cJSON_AddItemToArray(list.get(), item) ||
        cJSON_AddStringToObject(item, "zjdm", v[0].c_str()) == nullptr ||
        cJSON_AddStringToObject(item, "bdbbh", v[1].c_str()) == nullptr)
      return std::string();
  }
  char* printed = cJSON_Print(list.get());
  if (printed == nullptr) return std::string();
  std::string text(printed);
  cJSON_free(printed);
  return text;
}

bool CBusUpdate::DownloadPackage(const std::string& address, const std::string& folder,
                                 std::string& localPath, std::string& message) {
  std::string name;
  int kind = PackageKindOf(address, &name, message);
  if (kind < 0) return false;
  m_packageKind = kind;
  if (!RemoteAddressAllowed(address, kDownloadLabel)) {
    message = kRemoteHostRefused;
    return false;
  }
  localPath = folder + "/" + name;
  int rc = Download(address, localPath);
  if (rc != CURLE_OK) {
    message = NetworkErrorText(rc);
    return false;
  }
  return true;
}

bool CBusUpdate::Install(const std::string& localPath, std::string& message, pid_t* installer,
                         const std::function<void(pid_t)>& installerHeld,
                         const std::function<void()>& installerEnded) {
  const std::string folder = ProgramFolderPath();
  switch (m_packageKind) {
    case kPackageExe: {
      int rc = chmod(localPath.c_str(), 0700) == 0 ? 0 : errno;
      // An installer often stops or restarts this service: out of the
      // service's group, that stop does not end it halfway.
      int scope = plenwick::kProcessScopeNotInUnit;
      const std::string unit = std::string(kKelvornServiceName) + ".service";
      if (rc == 0)
        rc = plenwick::ProcessSpawnOutliving(localPath, {}, unit, kInstallerScopePrefix,
                                             "Update installer " + localPath, installer, &scope,
                                             installerEnded, installerHeld);
      if (rc == 0 && scope > 0)
        WriteLog("安装包未能移出服务的进程组：%d", kLabel, __LINE__, scope);
      if (rc != 0) {
        WriteLog("安装包运行失败：%d", kLabel, __LINE__, rc);
        char text[260];
        std::snprintf(text, sizeof text, "安装包运行失败：%d", rc);
        message = text;
        return false;
      }
      return true;
    }
    case kPackageZip:
      if (UnzipToFolder(localPath, folder, message)) return true;
      WriteLog("ZIP文件解压缩失败：%s", kLabel, __LINE__, message.c_str());
      return false;
    case kPackageRar: {
      // Unpacked in this process (libarchive); no command runs. The line
      // names the package and the folder in the form of the zip's lines.
      WriteLog("RAR文件解压：%s -> %s", kLabel, __LINE__, localPath.c_str(), folder.c_str());
      if (UnrarToFolder(localPath, folder, message)) return true;
      message = kRarFailed + message;
      WriteLog("%s", kLabel, __LINE__, message.c_str());
      return false;
    }
  }
  return false;
}

int CBusUpdate::BusParser() {
  HttpRequest& request = Request();
  WriteLog("自动升级：%s", kLabel, __LINE__, request.path.c_str());

  std::unique_lock<std::mutex> only(g_updateLock, std::try_to_lock);
  if (!only.owns_lock()) {
    WriteLog("%s", kLabel, __LINE__, kUpdateBusy);
    request.body = kUpdateBusy;
    return 0;
  }
  std::string url, message;
  if (!RemoteEndpoint(request, kInfoPath, kLabel, &url, &message)) {
    request.body = message;
    return 0;
  }
  std::vector<std::string> headers = ForwardedHeaders(request);
  std::string versions = GetClientVersionInfo();
  WriteLog("客户端版本信息：%s", kLabel, __LINE__, versions.c_str());

  std::string reply;
  int rc = HttpPost(url, headers, versions, reply, kRemotePostSeconds);
  message = reply;
  std::string addresses[3];
  if (rc != 0) {
    message = NetworkErrorText(rc);
    WriteLog("获取服务端版本信息失败：%s", kLabel, __LINE__, message.c_str());
  } else {
    WriteLog("服务端版本信息：%s", kLabel, __LINE__, reply.c_str());
    if (!CheckVersionInfo(reply, addresses[0], addresses[1], addresses[2], message)) {
      WriteLog("版本信息解析结果：%s", kLabel, __LINE__, message.c_str());
    } else {
      DownloadFolder folder;
      std::string localPath;
      bool stored = false;
      if (folder.path().empty()) {
        message = "创建下载目录失败";
        WriteLog("%s", kLabel, __LINE__, message.c_str());
      } else {
        for (const std::string& address : addresses) {
          if (address.empty()) continue;
          if ((stored = DownloadPackage(address, folder.path(), localPath, message))) break;
        }
        if (!stored) WriteLog("资源文件下载失败：%s", kLabel, __LINE__, message.c_str());
      }
      if (stored) {
        // The reply tells how the stored package went, not an earlier address.
        message = reply;
        pid_t installer = 0;
        // The installer reads its own file while it runs: its folder is
        // marked as its own before it runs and goes when it has ended.
        const std::string dir = folder.path();
        if (!Install(localPath, message, &installer,
                     [dir](pid_t held) { MarkInstaller(held, dir); },
                     [dir] { RemoveFolder(dir); })) {
          // Left for a look; the next update removes it.
          folder.Keep();
          WriteLog("安装失败，安装包保留在：%s", kLabel, __LINE__, localPath.c_str());
        } else if (installer > 0) {
          folder.Keep();
        }
      }
    }
  }
  request.body = message;
  return 0;
}
