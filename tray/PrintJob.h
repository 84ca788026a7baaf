// One print job as the service hands it over: the browser's form body
// "messageID=..&dylx=..&type=..&XMLKey=.." copied out of the shared block.
#pragma once

#include <cstdint>
#include <string>

#include "core/StrUtil.h"

constexpr uint32_t WM_PRINT_JOB = 0x0402;  // wparam: malloc'd NUL-terminated block

// Splits the block at "&" into key=value pieces. A piece that does not begin
// with one of the four field names stays, with its "&", part of the value
// before it, so request XML holding "&amp;" arrives whole. Pieces before the
// first field name split as plain key=value.
void SplitPrintJob(const std::string& block, StringMap& fields);

struct PrintJobFields {
  std::string messageId;
  int printType = 0;      // dylx as a decimal integer (atoi)
  std::string kind;       // type
  std::string xml;        // XMLKey
};

// Splits and checks the block; the first missing field is logged as
// "<name>未解析" and gives false.
bool ParsePrintJob(const std::string& block, PrintJobFields* job);
