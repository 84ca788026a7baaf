// Helpers shared by the tray's unit tests.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <string>

#include "core/Log.h"
#include "platform/process_facts.h"
#include "tests/support/file_util.h"

// A fresh temporary folder, removed with its contents at the end of the scope.
class TempFolder {
 public:
  TempFolder() : path_(MakeTempDir("pallowen-test")) {}
  ~TempFolder() { RemoveTree(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs the tray's log thread with a temporary program folder and gives back
// everything written to it.
class LogCapture {
 public:
  LogCapture() {
    plenwick::ProgramFolderOverride(folder_.path() + "/");
    StartLogThread(kLogTray);
  }
  ~LogCapture() {
    StopLogThread();
    plenwick::ProgramFolderOverride("");
  }
  // Ends the thread (every line queued so far is written) and reads the log.
  std::string Text() {
    StopLogThread();
    std::string dir = folder_.path() + "/_Log/Tray/";
    std::string all;
    if (DIR* d = opendir(dir.c_str())) {
      while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        all += ReadFile(dir + e->d_name);
      }
      closedir(d);
    }
    return all;
  }
  const std::string& folder() const { return folder_.path(); }

 private:
  TempFolder folder_;
};
