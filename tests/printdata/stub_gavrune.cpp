// Stand-in for libGavrune.so: answers the code in STUB_PRINT_RESULT and keeps
// the layout it was given in the file named by STUB_PRINT_LAYOUT, with the
// mode on the first line.
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int Print(const char* layoutUtf8, int mode)
{
    if (const char* path = std::getenv("STUB_PRINT_LAYOUT")) {
        if (FILE* f = std::fopen(path, "wb")) {
            std::fprintf(f, "%d\n%s", mode, layoutUtf8 ? layoutUtf8 : "(null)");
            std::fclose(f);
        }
    }
    const char* result = std::getenv("STUB_PRINT_RESULT");
    return result ? std::atoi(result) : 0;
}
