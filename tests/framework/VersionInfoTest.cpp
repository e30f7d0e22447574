#include "framework/VersionInfo.h"

#include <gtest/gtest.h>

#include "NulvaneVersion.h"
#include "tests/support/Printers.h"

TEST(VersionInfo, ReadsTheRunningProgramsStrings)
{
    // The test programs carry the program's own resources.
    CVersionInfo info;
    ASSERT_TRUE(info.Load());
    EXPECT_EQ(info.Get(L"FileVersion"), CString::FromAnsi(NULVANE_VERSION_TEXT));
    EXPECT_EQ(info.Get(L"ProductVersion"), CString::FromAnsi(NULVANE_VERSION_TEXT));
    EXPECT_EQ(info.Get(L"PrivateBuild"), L"1024");
    EXPECT_EQ(info.Get(L"BuildDate"), CString::FromAnsi(NULVANE_BUILD_DATE_TEXT));
    EXPECT_EQ(info.Get(L"BuildDate").GetLength(), 10);
    EXPECT_EQ(info.Get(L"FileDescription"), L"Nulvane");
    EXPECT_EQ(info.Get(L"ProductName"), L"Nulvane");
    EXPECT_EQ(info.Get(L"OriginalFileName"), L"Nulvane.exe");
    EXPECT_EQ(info.Get(L"LegalCopyright").Left(14), L"Copyright (C) ");
    EXPECT_FALSE(info.Get(L"CompanyName").IsEmpty());
    EXPECT_FALSE(info.Get(L"Comments").IsEmpty());
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
