// Temporary folders and whole-file reads for tests.
#pragma once

#include <string>

// Makes a fresh folder "/tmp/<prefix>-XXXXXX"; "" when that fails.
std::string MakeTempDir(const char* prefix);

// Removes path and everything below it; true when nothing is left (a missing
// path counts as removed).
bool RemoveTree(const std::string& path);

// The file's bytes as they are; "" when it cannot be read.
std::string ReadFile(const std::string& path);
