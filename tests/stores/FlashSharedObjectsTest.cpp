// The Flash cleaner on the prefix's real store, for what the whole clean-up test does not
// reach: large objects, non-ANSI names, times to the 100 ns, files that are none, held files.
#include "stores/FlashSharedObjects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "cleanup/Deleter.h"
#include "framework/Handles.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

// Last access and last write (Wine keeps no creation time).
using CTimes = std::array<ULONGLONG, 2>;

ULONGLONG Count(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

CTimes TimesOf(const CString& path)
{
    WIN32_FILE_ATTRIBUTE_DATA d = {};
    EXPECT_TRUE(GetFileAttributesExW(path, GetFileExInfoStandard, &d)) << path.ToUtf8();
    return {Count(d.ftLastAccessTime), Count(d.ftLastWriteTime)};
}

// Distinct times of odd 100-ns digits, the last access after the last write and within
// the day, so that reading the file does not move it on a file system under "relatime".
CTimes WriteWithTimes(const CString& path, const std::string& content, int n)
{
    WriteTestFile(path, content);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG at = Count(now) + n, hour = 36000000000ULL;
    const CTimes t = {at - hour + 7654321, at - 200 * hour + 4567891};
    const FILETIME ft[2] = {{DWORD(t[0]), DWORD(t[0] >> 32)}, {DWORD(t[1]), DWORD(t[1] >> 32)}};
    CHandle h(CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr));
    EXPECT_TRUE(h.valid() && SetFileTime(h.get(), nullptr, &ft[0], &ft[1])) << path.ToUtf8();
    return t;
}

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string bytes(n, '\0');
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(rng()); });
    return bytes;
}

class FlashSharedObjectsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_flash.GetStoreRoot().IsEmpty());
        m_flash.SetDeleter(&m_deleter);
    }
    void TearDown() override { RemoveTestTree(m_mine); }

    CString Mine(const wchar_t* pszRelative) const { return m_mine + L"\\" + pszRelative; }

    CDeleter m_deleter{FALSE, FALSE, FALSE};
    CFlashSharedObjects m_flash;
    CString m_mine = m_flash.GetStoreRoot() + L"\\#SharedObjects\\" + UniqueTag();
};

}  // namespace

TEST_F(FlashSharedObjectsTest, ObjectsOfAnySizeAndNameEndWithTheirStartBytesAndTimesAndOnlySessionObjectsGo)
{
    // A megabyte, past any buffer, and names the ANSI code page cannot hold.
    const std::string big = RandomBytes(1024 * 1024 + 1, 7);
    const std::vector<std::pair<CString, std::string>> objects = {
        {Mine(L"site.example\\game.swf\\state.sol"), "score=10"},
        {Mine(L"big.example\\level.sol"), big},
        {Mine(L"big.example\\same-size.sol"), big},
        {Mine(L"\x0422\x0435\x0441\x0442.example\\\x0434\x0430\x043D\x043D\x044B\x0435.sol"), RandomBytes(5000, 8)},
        {Mine(L"\x4F8B\x3048.example\\\x8A2D\x5B9A\\\x72B6\x614B.sol"), RandomBytes(300, 9)},
    };
    const CTimes times = WriteWithTimes(objects[0].first, objects[0].second, 0);
    for (size_t i = 1; i < objects.size(); ++i) {
        WriteWithTimes(objects[i].first, objects[i].second, static_cast<int>(i));
    }
    const std::vector<std::string> before = RunTraceAudit(L"flash");  // bytes and times to the 100 ns

    ASSERT_TRUE(m_flash.SnapshotSharedObjects(FALSE));

    // The session rewrites some (one past the first 64 KiB only, at the same size), deletes
    // one, adds shared objects: at the store root, beside files that are none, beside an
    // empty folder, in new folders whose names the ANSI code page cannot hold.
    WriteTestFile(objects[0].first, "score=999999, and a longer record of the session");
    WriteTestFile(objects[1].first, "cut");
    std::string lastByteChanged = big;
    lastByteChanged.back() ^= 1;
    WriteTestFile(objects[2].first, lastByteChanged);
    WriteTestFile(objects[3].first, RandomBytes(20000, 10));
    ASSERT_TRUE(DeleteFileW(objects[4].first));
    const CString atRoot = m_flash.GetStoreRoot() + L"\\" + UniqueTag() + L".sol";
    const CString kept[] = {Mine(L"with-file\\keep-notes.txt"), Mine(L"with-file\\keep-f.sol~")};
    for (const CString& path : {atRoot, Mine(L"with-file\\d.sol"), Mine(L"with-folder\\e.sol"), kept[0], kept[1],
                                Mine(L"\x65B0\x3057\x3044\\\x043E\x0431\x044A\x0435\x043A\x0442.sol")}) {
        WriteTestFile(path, "session");
    }
    CreateTestFolders(Mine(L"with-folder\\keep-empty"));

    ASSERT_TRUE(m_flash.RunBackgroundTask());
    // A restored object's folder takes its times back (first: a lookup in it reads it).
    EXPECT_EQ(TimesOf(Mine(L"site.example\\game.swf")), times);
    // The audit, before anything here reads a file and moves its last access:
    // every object as it was, no backup, no session object, what is none kept.
    std::vector<std::string> after = RunTraceAudit(L"flash");
    EXPECT_EQ(LinesContaining(after, "keep-").size(), 2u);
    std::erase_if(after, [](const std::string& line) { return line.find("keep-") != std::string::npos; });
    EXPECT_EQ(after, before);
    EXPECT_EQ(GetFileAttributesW(Mine(L"\x65B0\x3057\x3044")), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(Mine(L"with-folder\\keep-empty")), INVALID_FILE_ATTRIBUTES);
}

// (Recovery of an interrupted session from the backups: the start-up test's kill points.)
TEST_F(FlashSharedObjectsTest, WhatIsHeldFailsTheRunAndIsLeftForTheNextAttempt)
{
    const CString p = Mine(L"site.example\\p.sol"), r = Mine(L"session.example\\r.sol");
    const CTimes times = WriteWithTimes(p, "p at the start", 7);
    ASSERT_TRUE(m_flash.SnapshotSharedObjects(FALSE));
    WriteTestFile(p, "p of the session");
    WriteTestFile(r, "r");
    // Another program holds p and r open and shares nothing.
    {
        CHelperProcess holdP, holdR;
        ASSERT_TRUE(holdP.Start(L"hold-file \"" + p + L"\" none"));
        ASSERT_TRUE(holdR.Start(L"hold-file \"" + r + L"\" none"));
        EXPECT_FALSE(m_flash.RunBackgroundTask());
        EXPECT_TRUE(TestFileExists(p + L".bak") && TestFileExists(r));  // (the backup not read: its times are kept)
    }
    // Nor can a run without a deleter pass for one that removed anything.
    m_flash.SetDeleter(nullptr);
    EXPECT_FALSE(m_flash.RunBackgroundTask());
    m_flash.SetDeleter(&m_deleter);
    ASSERT_TRUE(m_flash.RunBackgroundTask());
    EXPECT_EQ(TimesOf(p), times);  // carried by the backup
    EXPECT_EQ(ReadTestFile(p), "p at the start");
    EXPECT_FALSE(TestFileExists(p + L".bak") || TestFileExists(r));

    // Without an application data folder nothing is recorded or touched.
    CFlashSharedObjects none(L"");
    none.SetDeleter(&m_deleter);
    EXPECT_FALSE(none.SnapshotSharedObjects(FALSE));
    EXPECT_TRUE(none.GetStartSet().IsEmpty() && none.RunBackgroundTask());
    EXPECT_TRUE(TestFileExists(p));
}
