// The Flash shared-object cleaner on the real application-data store of
// the test prefix, for what the whole clean-up test does not reach: objects
// past any buffer and with names the ANSI code page cannot hold, times to
// the 100 ns, files that are no shared objects, held files, an interrupted
// session. Each test works in a folder of its own below "#SharedObjects".
#include "stores/FlashSharedObjects.h"

#include <gtest/gtest.h>

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

// Creation, last access and last write.
using CTimes = std::array<ULONGLONG, 3>;

CTimes TimesOf(const CString& path)
{
    WIN32_FILE_ATTRIBUTE_DATA d = {};
    EXPECT_TRUE(GetFileAttributesExW(path, GetFileExInfoStandard, &d)) << path.ToUtf8();
    CTimes t;
    const FILETIME* ft[] = {&d.ftCreationTime, &d.ftLastAccessTime, &d.ftLastWriteTime};
    for (size_t i = 0; i < 3; ++i) {
        t[i] = (static_cast<ULONGLONG>(ft[i]->dwHighDateTime) << 32) | ft[i]->dwLowDateTime;
    }
    return t;
}

// The times a file was given, as far as the file system keeps them: the
// last access and last write to the 100 ns; the creation time too, or,
// where it keeps none (Wine), the last write in its place.
::testing::AssertionResult HasTimes(const CString& path, const CTimes& expected)
{
    const CTimes t = TimesOf(path);
    if (t[1] == expected[1] && t[2] == expected[2] && (t[0] == expected[0] || t[0] == t[2])) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << path.ToUtf8() << ": " << t[0] << " " << t[1] << " " << t[2]
                                         << ", expected " << expected[0] << " " << expected[1] << " " << expected[2];
}

// The file with distinct times of odd 100-ns digits. The last access lies
// after the last write and within the day, so that reading the file does
// not move it on a file system mounted with "relatime".
CTimes WriteWithTimes(const CString& path, const std::string& content, int n)
{
    WriteTestFile(path, content);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG at = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime) + n;
    const ULONGLONG hour = 36000000000ULL;
    const CTimes t = {at - 300 * hour + 1234567, at - hour + 7654321, at - 200 * hour + 4567891};
    FILETIME ft[3];
    for (size_t i = 0; i < 3; ++i) {
        ft[i] = {static_cast<DWORD>(t[i]), static_cast<DWORD>(t[i] >> 32)};
    }
    CHandle h(CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr));
    EXPECT_TRUE(h.valid() && SetFileTime(h.get(), &ft[0], &ft[1], &ft[2])) << path.ToUtf8();
    return t;
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
        {Mine(L"other.example\\prefs.sol"), "volume=3"},
        {Mine(L"big.example\\level.sol"), big},
        {Mine(L"big.example\\same-size.sol"), big},
        {Mine(L"\x0422\x0435\x0441\x0442.example\\\x0434\x0430\x043D\x043D\x044B\x0435.sol"), RandomBytes(5000, 8)},
        {Mine(L"\x4F8B\x3048.example\\\x8A2D\x5B9A\\\x72B6\x614B.sol"), RandomBytes(300, 9)},
    };
    bool bLossy = false;
    (void)objects[4].first.ToAnsi(&bLossy);
    ASSERT_TRUE(bLossy) << "the test needs a name the ANSI code page cannot hold";
    std::vector<CTimes> times;
    for (size_t i = 0; i < objects.size(); ++i) {
        times.push_back(WriteWithTimes(objects[i].first, objects[i].second, static_cast<int>(i)));
    }
    const std::vector<std::string> before = RunTraceAudit(L"flash");  // with the times

    ASSERT_TRUE(m_flash.SnapshotSharedObjects(FALSE));
    // (Reading a file moves its last access on here: times come first.)
    EXPECT_TRUE(HasTimes(objects[0].first + L".bak", times[0]));
    EXPECT_TRUE(ReadTestFile(objects[2].first + L".bak") == big);

    // The session rewrites some, deletes others (one changed past the first
    // 64 KiB only, at the same size), and adds shared objects: at the store
    // root, beside files that are none, beside an empty folder, in new
    // folders whose names the ANSI code page cannot hold.
    WriteTestFile(objects[0].first, "score=999999, and a longer record of the session");
    ASSERT_TRUE(DeleteFileW(objects[1].first));
    WriteTestFile(objects[2].first, "cut");
    std::string lastByteChanged = big;
    lastByteChanged.back() ^= 1;
    WriteTestFile(objects[3].first, lastByteChanged);
    WriteTestFile(objects[4].first, RandomBytes(20000, 10));
    ASSERT_TRUE(DeleteFileW(objects[5].first));
    const CString atRoot = m_flash.GetStoreRoot() + L"\\" + UniqueTag() + L".sol";
    const CString kept[] = {Mine(L"with-file\\keep-notes.txt"), Mine(L"with-file\\keep-f.sol~")};
    for (const CString& path : {atRoot, Mine(L"with-file\\d.sol"), Mine(L"with-folder\\e.sol"), kept[0], kept[1],
                                Mine(L"\x65B0\x3057\x3044\\\x043E\x0431\x044A\x0435\x043A\x0442.sol")}) {
        WriteTestFile(path, "session");
    }
    CreateTestFolders(Mine(L"with-folder\\keep-empty"));

    ASSERT_TRUE(m_flash.RunBackgroundTask());
    // The folder of a restored object takes its last access and last write
    // (checked first: looking for a missing name in a folder reads it).
    const CTimes folder = TimesOf(Mine(L"site.example\\game.swf"));
    EXPECT_EQ(folder[1], times[0][1]);
    EXPECT_EQ(folder[2], times[0][2]);
    // The audit, before anything here reads a file and moves its last
    // access: no backup, no session object left, what is no shared object
    // kept.
    std::vector<std::string> after = RunTraceAudit(L"flash");
    EXPECT_EQ(LinesContaining(after, "keep-").size(), 2u);
    std::erase_if(after, [](const std::string& line) { return line.find("keep-") != std::string::npos; });
    EXPECT_EQ(after, before);
    for (size_t i = 0; i < objects.size(); ++i) {
        EXPECT_TRUE(HasTimes(objects[i].first, times[i]));
        EXPECT_TRUE(ReadTestFile(objects[i].first) == objects[i].second) << objects[i].first.ToUtf8();
    }
    EXPECT_EQ(GetFileAttributesW(Mine(L"\x65B0\x3057\x3044")), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(Mine(L"with-folder\\keep-empty")), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FlashSharedObjectsTest, AnInterruptedSessionIsWipedFromItsBackupsAndWhatIsHeldIsLeftForTheNextAttempt)
{
    const CString p = Mine(L"site.example\\p.sol"), q = Mine(L"site.example\\q.sol");
    const CTimes pTimes = WriteWithTimes(p, "p at the start", 7), qTimes = WriteWithTimes(q, "q at the start", 8);
    ASSERT_TRUE(CFlashSharedObjects().SnapshotSharedObjects(FALSE));
    // The session changes p and adds r, then ends without a clean-up.
    WriteTestFile(p, "p of the session");
    const CString r = Mine(L"session.example\\r.sol");
    WriteTestFile(r, "r");

    // The next start: the backups on disk are what to write back, the
    // recovery file names the objects of the start.
    CFlashSharedObjects recovery;
    recovery.SetDeleter(&m_deleter);
    ASSERT_TRUE(recovery.SnapshotSharedObjects(TRUE));
    const std::vector<CString>& restores = recovery.GetRestoreList();
    for (const CString& path : {p, q}) {
        EXPECT_NE(std::find(restores.begin(), restores.end(), path + L".bak"), restores.end()) << path.ToUtf8();
    }
    recovery.GetStartSet().RemoveAll();
    recovery.GetStartSet().Add(p);
    recovery.GetStartSet().Add(q);
    // Another program holds p and r open and shares nothing.
    {
        CHelperProcess holdP, holdR;
        ASSERT_TRUE(holdP.Start(L"hold-file \"" + p + L"\" none"));
        ASSERT_TRUE(holdR.Start(L"hold-file \"" + r + L"\" none"));
        EXPECT_FALSE(recovery.RunBackgroundTask());
        EXPECT_FALSE(recovery.GetResult());
        EXPECT_TRUE(TestFileExists(p + L".bak"));  // (not read: its times are the ones to restore)
        EXPECT_TRUE(TestFileExists(r));
    }
    ASSERT_TRUE(recovery.RunBackgroundTask());
    EXPECT_TRUE(HasTimes(p, pTimes));  // carried by the backup
    EXPECT_TRUE(HasTimes(q, qTimes));
    EXPECT_EQ(ReadTestFile(p), "p at the start");
    EXPECT_EQ(ReadTestFile(q), "q at the start");
    EXPECT_FALSE(TestFileExists(r));
    EXPECT_FALSE(TestFileExists(p + L".bak"));
    EXPECT_FALSE(TestFileExists(q + L".bak"));

    // Without an application data folder nothing is recorded or touched.
    CFlashSharedObjects none(L"");
    none.SetDeleter(&m_deleter);
    EXPECT_TRUE(none.GetStoreRoot().IsEmpty());
    EXPECT_FALSE(none.SnapshotSharedObjects(FALSE));
    EXPECT_TRUE(none.GetStartSet().IsEmpty());
    EXPECT_TRUE(none.RunBackgroundTask());
    EXPECT_TRUE(TestFileExists(p));
}
