#include "systemfunction.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace {

// The type a lookup returns carries the Windows API's calling convention,
// whatever the caller wrote; on 32-bit x86 that is not the default one.
static_assert(
    std::is_same_v<decltype(systemfunction<int(int, int, int)>(nullptr, nullptr)), int(WINAPI*)(int, int, int)>);
#if defined(__i386__)
static_assert(!std::is_same_v<decltype(systemfunction<int(int, int, int)>(nullptr, nullptr)), int (*)(int, int, int)>,
              "on 32-bit x86 a lookup must not return a default-convention pointer");
#endif

TEST(SystemFunction, CallsAStdcallFunctionWithItsStackIntact)
{
    // MulDiv takes three arguments and pops them itself: called through a
    // pointer of the wrong convention, the caller's stack would move by 12
    // bytes each call on 32-bit x86.
    auto muldiv = systemfunction<int(int, int, int)>(L"kernel32.dll", "MulDiv");
    ASSERT_NE(muldiv, nullptr);
    volatile int sum = 0;
    for (int i = 1; i <= 1000; ++i) sum = sum + muldiv(i, 6, 3);
    EXPECT_EQ(sum, 1001000);
}

TEST(SystemFunction, MissingFunctionOrModuleIsNull)
{
    EXPECT_EQ((systemfunction<BOOL(DWORD)>(L"kernel32.dll", "NoSuchFunctionAnywhere")), nullptr);
    EXPECT_EQ((systemfunction<BOOL(DWORD)>(L"nosuchmodule.dll", "SetDefaultDllDirectories")), nullptr);
}

} // namespace
