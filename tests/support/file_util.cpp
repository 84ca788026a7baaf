#include "tests/support/file_util.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

std::string MakeTempDir(const char* prefix) {
  std::string text = std::string("/tmp/") + prefix + "-XXXXXX";
  std::vector<char> tmpl(text.begin(), text.end());
  tmpl.push_back('\0');
  const char* dir = mkdtemp(tmpl.data());
  return dir ? dir : "";
}

bool RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  return !ec;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
