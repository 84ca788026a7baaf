// vornel-post: sends one request file through libVornel.so the way the tray
// program does, and prints the answer.
//
//   vornel-post <request.xml> <print type> <kind>
//
// The library is loaded from this program's own folder. Exit status: 0 the
// library answered, 1 it could not be loaded, 2 bad arguments or request file.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using PostAndRecvExFn = int (*)(const char*, int, const char*, int, char**);
using DataFreeFn = void (*)(char*);

// A request larger than this is not an invoice.
const std::streamoff kMaxRequestBytes = 16 * 1024 * 1024;

std::string ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string s(path);
    const std::size_t slash = s.rfind('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

bool ReadFile(const char* name, std::string* out)
{
    std::ifstream in(name, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || size > kMaxRequestBytes) {
        std::fprintf(stderr, "vornel-post: %s: not a readable request of at most %lld bytes\n",
                     name, static_cast<long long>(kMaxRequestBytes));
        return false;
    }
    in.seekg(0, std::ios::beg);
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return bool(in) || in.eof();
}

bool ParseInt(const char* text, int* value)
{
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < INT_MIN || v > INT_MAX)
        return false;
    *value = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: vornel-post <request.xml> <print type> <kind>\n");
        return 2;
    }
    int printType = 0;
    if (!ParseInt(argv[2], &printType)) {
        std::fprintf(stderr, "vornel-post: print type must be a number: %s\n", argv[2]);
        return 2;
    }
    std::string request;
    if (!ReadFile(argv[1], &request)) {
        std::fprintf(stderr, "vornel-post: cannot read %s\n", argv[1]);
        return 2;
    }

    // Like the tray program: without a display the GUI runs off screen.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);

    const std::string library = ProgramFolder() + "/libVornel.so";
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "vornel-post: %s\n", dlerror());
        return 1;
    }
    auto post = reinterpret_cast<PostAndRecvExFn>(dlsym(handle, "PostAndRecvEx"));
    auto release = reinterpret_cast<DataFreeFn>(dlsym(handle, "DataFree"));
    if (!post || !release) {
        std::fprintf(stderr, "vornel-post: %s lacks PostAndRecvEx or DataFree\n", library.c_str());
        dlclose(handle);
        return 1;
    }

    char* answer = nullptr;
    post(request.c_str(), printType, argv[3], 0, &answer);
    std::printf("%s\n", answer ? answer : "");
    release(answer);
    dlclose(handle);
    return 0;
}
