// The Win32 owners hold the empty value of the call that opens their handle:
// a failed CreateFileW, FindFirstFileW or _findfirst is an empty owner.
#include "handles.h"

#include <gtest/gtest.h>

namespace {

TEST(HandleOwners, EmptyValuesAreTheFailedOpensOfTheirCalls)
{
    EXPECT_EQ(filehandle().get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(findfilehandle().get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(findhandle().get(), intptr_t(-1));
    EXPECT_EQ(kernelhandle().get(), nullptr);
    EXPECT_EQ(modulehandle().get(), nullptr);
}

TEST(HandleOwners, AFailedOpenIsAnEmptyOwner)
{
    filehandle file(CreateFileW(L"Z:\\no such directory\\no such file", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(file);
    WIN32_FIND_DATAW data;
    findfilehandle listing(FindFirstFileW(L"Z:\\no such directory\\*", &data));
    EXPECT_FALSE(listing);
    _finddata_t found;
    findhandle crtlisting(_findfirst("Z:\\no such directory\\*", &found));
    EXPECT_FALSE(crtlisting);
}

TEST(HandleOwners, AnEventIsClosedWithItsOwner)
{
    HANDLE seen = nullptr;
    {
        kernelhandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(event);
        seen = event.get();
        DWORD flags = 0;
        EXPECT_TRUE(GetHandleInformation(seen, &flags));
    }
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(seen, &flags));
}

} // namespace
