#include "tray/PrintRunner.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>

#include "core/Log.h"
#include "platform/named_flag.h"
#include "platform/process_facts.h"
#include "tray/PrintJob.h"
#include "tray/TrayNames.h"

namespace {

typedef int (*PostAndRecvExFn)(const char* xml, int printType, const char* kind, int unused,
                               char** answer);
typedef void (*DataFreeFn)(char* answer);

const char kLabel[] = "CCoreServer::printthread";

// dlopen handle, closed on every way out of a job. Closing the last handle
// unmaps the library (it undoes what it installed in the process first), so
// the next job maps whatever file the path names then: an update that
// replaced the library by rename serves the next job, with none of the old
// one's state.
class Library {
 public:
  explicit Library(const std::string& path)
      : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() {
    if (handle_) dlclose(handle_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  bool loaded() const { return handle_ != nullptr; }
  void* symbol(const char* name) const { return dlsym(handle_, name); }

 private:
  void* handle_;
};

}  // namespace

std::string VornelLibraryPath() { return plenwick::ProgramFolder() + "libVornel.so"; }

int RunPrintJob(const std::string& block, const std::string& libraryPath) {
  PrintJobFields job;
  if (!ParsePrintJob(block, &job)) return PRINT_JOB_BAD_BLOCK;

  Library vornel(libraryPath);
  if (!vornel.loaded()) {
    const char* why = dlerror();
    // A missing file reports its errno (2); a file that is no loadable
    // library, ENOEXEC. The loader's own text follows on the next line.
    int code = access(libraryPath.c_str(), R_OK) == 0 ? ENOEXEC : errno;
    WriteLog("打印控件加载失败：%d", kLabel, 671, code);
    WriteLog("%s", kLabel, 672, why ? why : "");
    return PRINT_JOB_LOAD_FAILED;
  }
  auto post = reinterpret_cast<PostAndRecvExFn>(vornel.symbol("PostAndRecvEx"));
  auto release = reinterpret_cast<DataFreeFn>(vornel.symbol("DataFree"));
  if (!post || !release) {
    WriteLog("打印接口解析失败", kLabel, 679);
    return PRINT_JOB_NO_EXPORTS;
  }

  plenwick::NamedFlag busy;
  int rc = busy.Create(kPrintBusyEventName);
  if (rc != 0) WriteLog("创建窗口同步事件失败：%d", kLabel, 686, rc);
  char* answer = nullptr;
  post(job.xml.c_str(), job.printType, job.kind.c_str(), 0, &answer);
  release(answer);
  busy.Close();
  return PRINT_JOB_DONE;
}
