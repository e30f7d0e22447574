// The Flash shared-object cleaner on the real application-data store of
// the test prefix: files backed up at the start, changed, added and
// deleted by a "session", and the store checked byte for byte and time for
// time after the clean-up. Each test works in a folder of its own below
// "#SharedObjects" and removes it afterwards.
#include "stores/FlashSharedObjects.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <random>

#include "cleanup/Deleter.h"
#include "framework/Handles.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

struct CTimes {
    ULONGLONG creation = 0;
    ULONGLONG access = 0;
    ULONGLONG write = 0;
};

ULONGLONG Ticks(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME FileTime(ULONGLONG ticks)
{
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

CTimes TimesOf(const CString& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    EXPECT_TRUE(GetFileAttributesExW(path, GetFileExInfoStandard, &data)) << path.ToUtf8();
    return {Ticks(data.ftCreationTime), Ticks(data.ftLastAccessTime), Ticks(data.ftLastWriteTime)};
}

// Distinct times with odd 100-ns digits. The last access lies after the
// last write and within the day, so that reading the file does not move
// it on a file system mounted with "relatime".
CTimes StartTimes(int n)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG hour = 36000000000ULL;
    return {Ticks(now) - 300 * hour + 1234567 + static_cast<ULONGLONG>(n),
            Ticks(now) - hour + 7654321 + static_cast<ULONGLONG>(n),
            Ticks(now) - 200 * hour + 4567891 + static_cast<ULONGLONG>(n)};
}

void SetTimes(const CString& path, const CTimes& times)
{
    CHandle h(CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(h.valid()) << path.ToUtf8();
    const FILETIME c = FileTime(times.creation), a = FileTime(times.access), w = FileTime(times.write);
    ASSERT_TRUE(SetFileTime(h.get(), &c, &a, &w));
}

// The times a file was given, as far as the file system keeps them: the
// last access and last write to the 100 ns; the creation time too, or,
// where it keeps none (Wine), the last write in its place.
::testing::AssertionResult HasTimes(const CString& path, const CTimes& expected)
{
    const CTimes actual = TimesOf(path);
    if (actual.access == expected.access && actual.write == expected.write &&
        (actual.creation == expected.creation || actual.creation == actual.write)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << path.ToUtf8() << ": creation " << actual.creation << " access "
                                         << actual.access << " write " << actual.write << ", expected "
                                         << expected.creation << " " << expected.access << " " << expected.write;
}

void WriteWithTimes(const CString& path, const std::string& content, const CTimes& times)
{
    WriteTestFile(path, content);
    SetTimes(path, times);
}

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string bytes(n, '\0');
    for (char& b : bytes) {
        b = static_cast<char>(rng());
    }
    return bytes;
}

class FlashSharedObjectsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_flash.GetStoreRoot().IsEmpty());
        m_mine = m_flash.GetStoreRoot() + L"\\#SharedObjects\\" + UniqueTag();
        m_flash.SetDeleter(&m_deleter);
    }
    void TearDown() override { RemoveTestTree(m_mine); }

    CString Mine(const wchar_t* pszRelative) const { return m_mine + L"\\" + pszRelative; }

    CDeleter m_deleter{FALSE, FALSE, FALSE};
    CFlashSharedObjects m_flash;
    CString m_mine;
};

}  // namespace

TEST_F(FlashSharedObjectsTest, ChangedAndDeletedObjectsOfAnySizeAndNameEndWithTheirStartBytesAndTimes)
{
    // A megabyte, past any buffer, and names the ANSI code page cannot hold.
    const std::string big = RandomBytes(1024 * 1024 + 1, 7);
    const std::vector<std::pair<CString, std::string>> objects = {
        {Mine(L"site.example\\game.swf\\state.sol"), "score=10"},
        {Mine(L"other.example\\prefs.sol"), "volume=3"},
        {Mine(L"other.example\\kept.sol"), "lang=en"},
        {Mine(L"big.example\\level.sol"), big},
        {Mine(L"big.example\\same-size.sol"), big},
        {Mine(L"\x0422\x0435\x0441\x0442.example\\\x0434\x0430\x043D\x043D\x044B\x0435.sol"), RandomBytes(5000, 8)},
        {Mine(L"\x4F8B\x3048.example\\\x8A2D\x5B9A\\\x72B6\x614B.sol"), RandomBytes(300, 9)},
    };
    bool bLossy = false;
    (void)objects[5].first.ToAnsi(&bLossy);
    ASSERT_TRUE(bLossy) << "the test needs a name the ANSI code page cannot hold";
    std::vector<CTimes> times;
    for (size_t i = 0; i < objects.size(); ++i) {
        times.push_back(StartTimes(static_cast<int>(i)));
        WriteWithTimes(objects[i].first, objects[i].second, times.back());
    }
    const std::vector<std::string> before = RunTraceAudit(L"flash");  // with the times

    ASSERT_TRUE(m_flash.SnapshotSharedObjects(FALSE));
    // (Reading a file moves its last access on here: times come first.)
    EXPECT_TRUE(HasTimes(objects[0].first + L".bak", times[0]));
    EXPECT_TRUE(ReadTestFile(objects[3].first + L".bak") == big);
    for (const auto& [path, content] : objects) {
        EXPECT_TRUE(m_flash.GetStartSet().Contains(path)) << path.ToUtf8();
    }

    // The session rewrites some, deletes others (one changed past the first
    // 64 KiB only, at the same size), and adds new ones with companions, in
    // new folders too.
    WriteTestFile(objects[0].first, "score=999999, and a longer record of the session");
    ASSERT_TRUE(DeleteFileW(objects[1].first));
    WriteTestFile(objects[3].first, "cut");
    std::string lastByteChanged = big;
    lastByteChanged.back() ^= 1;
    WriteTestFile(objects[4].first, lastByteChanged);
    WriteTestFile(objects[5].first, RandomBytes(20000, 10));
    ASSERT_TRUE(DeleteFileW(objects[6].first));
    for (int i = 0; i < 4; ++i) {
        const CString seeded = Mine(FormatString(L"session%d.example\\swf\\s%d", i % 2, i));
        WriteTestFile(seeded + L".sol", "session");
        WriteTestFile(seeded + L".sxx", "companion");
    }
    const CString fresh = Mine(L"\x65B0\x3057\x3044\\\x043E\x0431\x044A\x0435\x043A\x0442.sol");
    WriteTestFile(fresh, "new");

    ASSERT_TRUE(m_flash.RunBackgroundTask());
    // The folder of a restored object takes its last access and last write
    // (checked first: looking for a missing name in a folder reads it).
    const CTimes folder = TimesOf(Mine(L"site.example\\game.swf"));
    EXPECT_EQ(folder.access, times[0].access);
    EXPECT_EQ(folder.write, times[0].write);
    // The audit, before anything here reads a file and moves its last
    // access: no backup, no companion, no session file left.
    EXPECT_EQ(RunTraceAudit(L"flash"), before);
    for (size_t i = 0; i < objects.size(); ++i) {
        EXPECT_TRUE(HasTimes(objects[i].first, times[i]));
        EXPECT_TRUE(ReadTestFile(objects[i].first) == objects[i].second) << objects[i].first.ToUtf8();
    }
    EXPECT_EQ(GetFileAttributesW(Mine(L"\x65B0\x3057\x3044")), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FlashSharedObjectsTest, NewObjectsGoWithTheirCompanionsAndTheFoldersTheyLeaveEmpty)
{
    WriteTestFile(Mine(L"kept\\a.sol"), "a");
    const CString root = m_flash.GetStoreRoot();
    ASSERT_TRUE(m_flash.SnapshotSharedObjects(FALSE));

    const CString deep = Mine(L"new\\deep\\deeper\\b.sol");
    WriteTestFile(deep, "b");
    WriteTestFile(Mine(L"new\\deep\\deeper\\b.sxx"), "b's companion");
    WriteTestFile(Mine(L"kept\\c.sol"), "c");
    WriteTestFile(Mine(L"kept\\c.sxx"), "c's companion");
    WriteTestFile(Mine(L"with-file\\d.sol"), "d");
    WriteTestFile(Mine(L"with-file\\notes.txt"), "not a shared object");
    WriteTestFile(Mine(L"with-folder\\e.sol"), "e");
    CreateTestFolders(Mine(L"with-folder\\empty"));
    WriteTestFile(Mine(L"with-file\\f.sol~"), "an editor's copy, no shared object");
    const CString atRoot = root + L"\\" + UniqueTag() + L".sol";
    WriteTestFile(atRoot, "g");

    ASSERT_TRUE(m_flash.RunBackgroundTask());
    EXPECT_EQ(GetFileAttributesW(Mine(L"new")), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(TestFileExists(Mine(L"kept\\c.sol")));
    EXPECT_FALSE(TestFileExists(Mine(L"kept\\c.sxx")));
    EXPECT_EQ(ReadTestFile(Mine(L"kept\\a.sol")), "a");
    EXPECT_FALSE(TestFileExists(Mine(L"with-file\\d.sol")));
    EXPECT_TRUE(TestFileExists(Mine(L"with-file\\notes.txt")));
    EXPECT_TRUE(TestFileExists(Mine(L"with-file\\f.sol~")));
    EXPECT_FALSE(TestFileExists(Mine(L"with-folder\\e.sol")));
    EXPECT_NE(GetFileAttributesW(Mine(L"with-folder\\empty")), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(TestFileExists(atRoot));
    EXPECT_NE(GetFileAttributesW(root), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FlashSharedObjectsTest, AnInterruptedSessionIsWipedFromTheBackupsItLeft)
{
    const CString p = Mine(L"site.example\\p.sol"), q = Mine(L"site.example\\q.sol");
    const CTimes pTimes = StartTimes(7), qTimes = StartTimes(8);
    WriteWithTimes(p, "p at the start", pTimes);
    WriteWithTimes(q, "q at the start", qTimes);
    {
        CFlashSharedObjects session;
        ASSERT_TRUE(session.SnapshotSharedObjects(FALSE));
    }
    // The session changes p and adds r, then ends without a clean-up.
    WriteTestFile(p, "p of the session");
    const CString r = Mine(L"session.example\\r.sol");
    WriteTestFile(r, "r");

    // The next start: the recovery file names the objects of the start,
    // the backups on disk are what to write back.
    CFlashSharedObjects recovery;
    recovery.SetDeleter(&m_deleter);
    ASSERT_TRUE(recovery.SnapshotSharedObjects(TRUE));
    const std::vector<CString>& restores = recovery.GetRestoreList();
    EXPECT_NE(std::find(restores.begin(), restores.end(), p + L".bak"), restores.end());
    EXPECT_NE(std::find(restores.begin(), restores.end(), q + L".bak"), restores.end());
    recovery.GetStartSet().RemoveAll();
    recovery.GetStartSet().Add(p);
    recovery.GetStartSet().Add(q);

    ASSERT_TRUE(recovery.RunBackgroundTask());
    EXPECT_TRUE(HasTimes(p, pTimes));  // carried by the backup
    EXPECT_TRUE(HasTimes(q, qTimes));
    EXPECT_EQ(ReadTestFile(p), "p at the start");
    EXPECT_EQ(ReadTestFile(q), "q at the start");
    EXPECT_FALSE(TestFileExists(r));
    EXPECT_FALSE(TestFileExists(p + L".bak"));
    EXPECT_FALSE(TestFileExists(q + L".bak"));
}

TEST_F(FlashSharedObjectsTest, WhatCannotBeDoneNowIsLeftForTheNextAttempt)
{
    const CString p = Mine(L"site.example\\p.sol");
    const CTimes pTimes = StartTimes(9);
    WriteWithTimes(p, "p at the start", pTimes);
    ASSERT_TRUE(m_flash.SnapshotSharedObjects(FALSE));
    WriteTestFile(p, "p of the session");
    const CString fresh = Mine(L"session.example\\new.sol");
    WriteTestFile(fresh, "new");

    // Another program holds both files open and shares nothing.
    {
        CHelperProcess holdP, holdFresh;
        ASSERT_TRUE(holdP.Start(L"hold-file \"" + p + L"\" none"));
        ASSERT_TRUE(holdFresh.Start(L"hold-file \"" + fresh + L"\" none"));
        EXPECT_FALSE(m_flash.RunBackgroundTask());
        EXPECT_FALSE(m_flash.GetResult());
        EXPECT_EQ(ReadTestFile(p + L".bak"), "p at the start");
        EXPECT_TRUE(TestFileExists(fresh));
    }
    ASSERT_TRUE(m_flash.RunBackgroundTask());
    EXPECT_TRUE(HasTimes(p, pTimes));
    EXPECT_EQ(ReadTestFile(p), "p at the start");
    EXPECT_FALSE(TestFileExists(p + L".bak"));
    EXPECT_FALSE(TestFileExists(fresh));
}

TEST_F(FlashSharedObjectsTest, WithoutAnApplicationDataFolderNothingIsRecordedOrTouched)
{
    WriteTestFile(Mine(L"x.sol"), "x");
    CFlashSharedObjects none(L"");
    none.SetDeleter(&m_deleter);
    EXPECT_TRUE(none.GetStoreRoot().IsEmpty());
    EXPECT_FALSE(none.SnapshotSharedObjects(FALSE));
    EXPECT_TRUE(none.GetStartSet().IsEmpty());
    EXPECT_TRUE(none.RunBackgroundTask());
    EXPECT_TRUE(TestFileExists(Mine(L"x.sol")));
}
