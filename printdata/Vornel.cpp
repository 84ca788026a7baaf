// The exports of libVornel.so. Everything else in the library is hidden.
#include "printdata/VornelEntry.h"

#define VORNEL_EXPORT extern "C" __attribute__((visibility("default")))

VORNEL_EXPORT int PostAndRecvEx(const char* request, int printType, const char* kind, int reserved, char** answer)
{
    return VornelPostAndRecvEx(request, printType, kind, reserved, answer);
}

VORNEL_EXPORT void DataFree(char* data)
{
    VornelDataFree(data);
}

VORNEL_EXPORT void GetDllVersion(char* buffer)
{
    VornelGetDllVersion(buffer);
}

VORNEL_EXPORT int fnVersion(char* buffer, int size)
{
    return VornelFnVersion(buffer, size);
}

namespace {

// Destroyed when the caller unloads the library (before its code is unmapped).
struct Unloading {
    ~Unloading() { VornelUnload(); }
} g_unloading;

} // namespace
