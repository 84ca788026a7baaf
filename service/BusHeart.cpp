#include "service/BusHeart.h"

#include <cjson/cJSON.h>

#include "core/Log.h"
#include "service/BusHelper.h"

const char kHeartRefused[] = "心跳被拒绝";

int CBusHeart::BusParser() {
  HttpRequest& request = Request();
  int port = -1;
  cJSON* root = cJSON_ParseWithLength(request.body.data(), request.body.size());
  if (root == nullptr) {
    WriteLog("端口解析失败JP", "CBusHeart::BusParser", __LINE__);
  } else {
    // The member lookup ignores case, so {"PORT": ...} counts as well.
    cJSON* item = cJSON_GetObjectItem(root, "port");
    if (item == nullptr)
      WriteLog("端口解析失败JGI", "CBusHeart::BusParser", __LINE__);
    else
      port = static_cast<uint16_t>(item->valueint);
    cJSON_Delete(root);
  }
  // Any page can post here; only our own tray, listening on that port, may
  // receive the print jobs.
  TrayHeart heart;
  if (port < 0 || !IsOurTrayPort(static_cast<uint16_t>(port), &heart.uid)) {
    WriteLog("拒绝心跳：端口 %d 不是本程序目录中 Pallowen 的监听端口", "CBusHeart::BusParser",
             __LINE__, port);
    request.status = 403;
    request.body = kHeartRefused;
    return 0;
  }
  // The jobs handed to this port are for this tray's user alone: both go
  // in at once.
  heart.port = static_cast<uint16_t>(port);
  LastTrayHeart.store(heart);
  SweepJobObjects("CBusHeart::BusParser");
  return 0;
}
