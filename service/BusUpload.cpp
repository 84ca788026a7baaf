#include "service/BusUpload.h"

#include "core/Log.h"
#include "core/libcurl/httpclient2.h"
#include "service/RemoteService.h"

namespace {

const char kLabel[] = "CBusUpload::BusParser";
const char kUploadPath[] = "/kpfw/kjxx/v1/upload";
constexpr long kUploadSeconds = 20;

}  // namespace

int CBusUpload::BusParser() {
  HttpRequest& request = Request();
  WriteLog("信息上传：%s", kLabel, __LINE__, request.path.c_str());

  std::string url, reply;
  if (RemoteEndpoint(request, kUploadPath, kLabel, &url, &reply)) {
    std::string hardware = TirrelHardwareInformation();
    int rc = HttpPost(url, ForwardedHeaders(request), hardware, reply, kUploadSeconds);
    if (rc != 0) reply = NetworkErrorText(rc);
  }
  WriteLog("上传结果：%s", kLabel, __LINE__, reply.c_str());
  request.body = reply;
  return 0;
}
