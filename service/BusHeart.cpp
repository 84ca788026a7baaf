#include "service/BusHeart.h"

#include <cjson/cJSON.h>

#include "core/Log.h"
#include "service/BusHelper.h"

int CBusHeart::BusParser() {
  HttpRequest& request = Request();
  cJSON* root = cJSON_ParseWithLength(request.body.data(), request.body.size());
  if (root == nullptr) {
    WriteLog("端口解析失败JP", "CBusHeart::BusParser", __LINE__);
    return 0;
  }
  // The member lookup ignores case, so {"PORT": ...} counts as well.
  cJSON* port = cJSON_GetObjectItem(root, "port");
  if (port == nullptr) {
    WriteLog("端口解析失败JGI", "CBusHeart::BusParser", __LINE__);
  } else {
    TrayPort.store(static_cast<uint16_t>(port->valueint));
  }
  cJSON_Delete(root);
  return 0;
}
