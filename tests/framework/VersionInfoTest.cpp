#include "framework/VersionInfo.h"

#include <gtest/gtest.h>

#include "tests/support/Printers.h"

TEST(VersionInfo, ReadsTheRunningProgramsStrings)
{
    CVersionInfo info;
    ASSERT_TRUE(info.Load());
    EXPECT_EQ(info.Get(L"FileVersion"), L"1, 2, 3, 4");
    EXPECT_EQ(info.Get(L"PrivateBuild"), L"1024");
    EXPECT_EQ(info.Get(L"BuildDate"), L"2026-12-06");
    EXPECT_EQ(info.Get(L"FileDescription"), L"Nulvane tests");
    EXPECT_TRUE(info.Get(L"SpecialBuild").IsEmpty());
    EXPECT_TRUE(info.Get(L"NoSuchValue").IsEmpty());
}

TEST(VersionInfo, AModuleWithoutResourceGivesEmptyValues)
{
    CVersionInfo info;
    // A module handle that is not a module: nothing to read.
    EXPECT_FALSE(info.Load(reinterpret_cast<HMODULE>(uintptr_t{0x10})));
    EXPECT_TRUE(info.Get(L"FileVersion").IsEmpty());
}
