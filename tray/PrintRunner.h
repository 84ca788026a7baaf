// Runs one print job through the print-data library on the calling thread
// (the print thread): split the block, load libVornel.so from the program
// folder, call PostAndRecvEx with the request XML, print type and kind, give
// the answer back through DataFree, unload. The busy flag is held exactly for
// the length of PostAndRecvEx.
#pragma once

#include <string>

enum PrintJobResult {
  PRINT_JOB_DONE = 0,
  PRINT_JOB_BAD_BLOCK = 1,    // a field is missing ("X未解析")
  PRINT_JOB_LOAD_FAILED = 2,  // "打印控件加载失败：%d"
  PRINT_JOB_NO_EXPORTS = 3,   // "打印接口解析失败"
};

// <program folder>libVornel.so
std::string VornelLibraryPath();

int RunPrintJob(const std::string& block, const std::string& libraryPath);
