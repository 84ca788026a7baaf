// The layout reader, and the receipt reader, on any text.
#include <cstdint>
#include <string>

#include "printengine/CLayoutReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  CLayoutReader layout;
  layout.LoadLayout(text);
  CLayoutReader receipt;
  receipt.LoadHdxml(text);
  return 0;
}
