// libVornel.so itself, loaded and unloaded the way the tray program does it.
#include <gtest/gtest.h>

#include <QDebug>

#include <dlfcn.h>

#include <cstring>

namespace {

using PostAndRecvExFn = int (*)(const char*, int, const char*, int, char**);
using DataFreeFn = void (*)(char*);
using FnVersionFn = int (*)(char*, int);

} // namespace

// A host without an application object gets one from the first call, which
// then refers to the library's memory: the library pins itself.
TEST(VornelLibrary, StaysMappedAfterItsCallerUnloadsIt)
{
    void* handle = dlopen(PLENWICK_BIN_DIR "/libVornel.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto post = reinterpret_cast<PostAndRecvExFn>(dlsym(handle, "PostAndRecvEx"));
    auto release = reinterpret_cast<DataFreeFn>(dlsym(handle, "DataFree"));
    auto version = reinterpret_cast<FnVersionFn>(dlsym(handle, "fnVersion"));
    ASSERT_TRUE(post && release && version);

    char buffer[8] = {};
    EXPECT_EQ(version(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "1.0");

    char* answer = nullptr;
    EXPECT_EQ(post("<business><body/></business>", 4, "01", 0, &answer), 0);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer[0], '\0');
    release(answer);
    dlclose(handle);

    // The message handler the library installed is still there to call.
    qInfo() << "after unloading libVornel.so";
    void* again = dlopen(PLENWICK_BIN_DIR "/libVornel.so", RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(again, nullptr);
    if (again)
        dlclose(again);
    qInstallMessageHandler(nullptr);
}
