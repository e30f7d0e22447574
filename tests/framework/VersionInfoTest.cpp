#include "framework/VersionInfo.h"

#include <gtest/gtest.h>

#include "NulvaneVersion.h"
#include "tests/support/Printers.h"

TEST(VersionInfo, ReadsTheRunningProgramsStringsAndNothingFromANonModule)
{
    // The test programs carry the program's own resources.
    CVersionInfo info;
    ASSERT_TRUE(info.Load());
    EXPECT_EQ(info.Get(L"FileVersion"), CString::FromAnsi(NULVANE_VERSION_TEXT));
    EXPECT_EQ(info.Get(L"PrivateBuild"), L"1024");
    EXPECT_EQ(info.Get(L"BuildDate"), CString::FromAnsi(NULVANE_BUILD_DATE_TEXT));
    EXPECT_EQ(info.Get(L"OriginalFileName"), L"Nulvane.exe");
    EXPECT_TRUE(info.Get(L"NoSuchValue").IsEmpty());

    CVersionInfo none;
    EXPECT_FALSE(none.Load(reinterpret_cast<HMODULE>(uintptr_t{0x10})));
    EXPECT_TRUE(none.Get(L"FileVersion").IsEmpty());
}
