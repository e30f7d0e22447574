#include "cleanup/FileFinder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "framework/Handles.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

std::vector<CString> Results(const CFileFinder& finder)
{
    std::vector<CString> paths;
    for (int i = 0; i < finder.GetFileCount(); ++i) {
        paths.push_back(finder.GetFilePath(i));
    }
    return paths;
}

// Paths relative to the folder, for readable expectations.
std::vector<CString> Relative(const CFileFinder& finder, const CTempFolder& folder)
{
    std::vector<CString> paths;
    for (const CString& path : Results(finder)) {
        EXPECT_EQ(path.Left(folder.Path().GetLength() + 1), folder.Path() + L"\\") << path.ToUtf8();
        paths.push_back(path.Mid(folder.Path().GetLength() + 1));
    }
    return paths;
}

void SetTimes(const CString& path, const FILETIME* pLastAccess, const FILETIME* pLastWrite)
{
    CHandle h(CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(h.valid());
    ASSERT_TRUE(SetFileTime(h.get(), nullptr, pLastAccess, pLastWrite));
}

// a\b\c with two files in each and one empty folder e below a.
class FileFinderTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const wchar_t* name : {L"a\\1.txt", L"a\\2.log", L"a\\b\\3.txt", L"a\\b\\4.log", L"a\\b\\c\\5.txt",
                                    L"a\\b\\c\\6.log"}) {
            WriteTestFile(m_folder / name, "x");
        }
        CreateTestFolders(m_folder / L"a\\e");
    }

    CFileFinderOptions Options(const wchar_t* pszMask, BOOL bRecursive) const
    {
        CFileFinderOptions options;
        options.m_strBaseFolder = m_folder / L"a";
        options.m_strMask = pszMask;
        options.m_bRecursive = bRecursive;
        return options;
    }

    CTempFolder m_folder;
};

using Paths = std::vector<CString>;

}  // namespace

TEST(FileFinderOptions, ResetRestoresTheDefaults)
{
    CFileFinderOptions options;
    options.m_strBaseFolder = L"C:\\x";
    options.m_strMask = L"*.txt";
    options.m_strText = L"t";
    options.m_bRecursive = TRUE;
    options.m_dwFilters = 63;
    options.m_nMinSize = 1;
    options.m_nMaxSize = 2;
    options.m_timeCreationFrom = CTime(1);
    options.m_timeLastAccessTo = CTime(2);
    options.m_dwAttributes = 7;
    const CTime before = CTime::GetCurrentTime();
    options.Reset();
    const CTime after = CTime::GetCurrentTime();
    EXPECT_TRUE(options.m_strBaseFolder.IsEmpty());
    EXPECT_EQ(options.m_strMask, L"*.*");
    EXPECT_TRUE(options.m_strText.IsEmpty());
    EXPECT_FALSE(options.m_bRecursive);
    EXPECT_EQ(options.m_dwFilters, 0u);
    EXPECT_EQ(options.m_nMinSize, 0u);
    EXPECT_EQ(options.m_nMaxSize, 0u);
    EXPECT_EQ(options.m_dwAttributes, 0u);
    for (const CTime& t : {options.m_timeCreationFrom, options.m_timeCreationTo, options.m_timeLastWriteFrom,
                           options.m_timeLastWriteTo, options.m_timeLastAccessFrom, options.m_timeLastAccessTo}) {
        EXPECT_LE(before, t);
        EXPECT_LE(t, after);
    }
}

TEST_F(FileFinderTree, SubfoldersComeBeforeTheFolderOwnEntries)
{
    CFileFinder finder;
    CFileFinderOptions options = Options(L"*.txt", TRUE);
    EXPECT_EQ(finder.FindFiles(options), 3);
    EXPECT_EQ(Relative(finder, m_folder), (Paths{L"a\\b\\c\\5.txt", L"a\\b\\3.txt", L"a\\1.txt"}));

    // A trailing backslash on the base folder changes nothing.
    options.m_strBaseFolder += L"\\";
    EXPECT_EQ(finder.FindFiles(options), 3);
    EXPECT_EQ(Relative(finder, m_folder), (Paths{L"a\\b\\c\\5.txt", L"a\\b\\3.txt", L"a\\1.txt"}));

    EXPECT_EQ(finder.FindFiles(Options(L"*.txt", FALSE)), 1);
    EXPECT_EQ(Relative(finder, m_folder), (Paths{L"a\\1.txt"}));
}

TEST_F(FileFinderTree, FoldersAreListedUnlessTheAttributeMaskLeavesThemOut)
{
    CFileFinder finder;
    CFileFinderOptions options = Options(L"*.*", TRUE);
    options.m_dwFilters = CFileFinderOptions::kFilterAttributes;
    options.m_dwAttributes = CFileFinderOptions::kFilesAndFolders;
    finder.FindFiles(options);
    // Each folder comes after its own (possibly empty) content.
    const Paths withFolders = Relative(finder, m_folder);
    ASSERT_EQ(withFolders.size(), 9u) << ::testing::PrintToString(withFolders);
    auto at = [&](const wchar_t* name) {
        return std::find(withFolders.begin(), withFolders.end(), CString(name)) - withFolders.begin();
    };
    for (const wchar_t* inside : {L"a\\b\\c\\5.txt", L"a\\b\\c\\6.log"}) {
        EXPECT_LT(at(inside), at(L"a\\b\\c"));
    }
    for (const wchar_t* inside : {L"a\\b\\3.txt", L"a\\b\\4.log", L"a\\b\\c", L"a\\b\\c\\5.txt"}) {
        EXPECT_LT(at(inside), at(L"a\\b"));
    }
    // The empty folder e is listed; a itself is the base and never is.
    EXPECT_LT(at(L"a\\e"), static_cast<long long>(withFolders.size()));

    options.m_dwAttributes = CFileFinderOptions::kFilesOnly;
    EXPECT_EQ(finder.FindFiles(options), 6);
    for (const CString& path : Results(finder)) {
        EXPECT_EQ(GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY, 0u) << path.ToUtf8();
    }

    // Without the attribute filter a folder whose name matches is listed too.
    EXPECT_EQ(finder.FindFiles(Options(L"e", TRUE)), 1);
    EXPECT_EQ(Relative(finder, m_folder), (Paths{L"a\\e"}));

    // The shortcut lists files only.
    EXPECT_EQ(finder.ListFiles(m_folder / L"a", L"*.log", TRUE), 3);
    EXPECT_EQ(Relative(finder, m_folder), (Paths{L"a\\b\\c\\6.log", L"a\\b\\4.log", L"a\\2.log"}));
    EXPECT_EQ(finder.ListFiles(m_folder / L"a", L"*", FALSE), 2);
}

TEST_F(FileFinderTree, ResultIndexOutOfRangeGivesAnEmptyPath)
{
    CFileFinder finder;
    ASSERT_EQ(finder.FindFiles(Options(L"*.txt", TRUE)), 3);
    EXPECT_TRUE(finder.GetFilePath(-1).IsEmpty());
    EXPECT_TRUE(finder.GetFilePath(3).IsEmpty());
    EXPECT_FALSE(finder.GetFilePath(2).IsEmpty());
}

TEST_F(FileFinderTree, ASecondSearchStartsFromAnEmptyList)
{
    CFileFinder finder;
    ASSERT_EQ(finder.FindFiles(Options(L"*.txt", TRUE)), 3);
    EXPECT_EQ(finder.FindFiles(Options(L"*.log", FALSE)), 1);
    EXPECT_EQ(Relative(finder, m_folder), (Paths{L"a\\2.log"}));
}

TEST(FileFinder, MissingOrEmptyBaseFolderGivesNothing)
{
    CTempFolder folder;
    CFileFinder finder;
    CFileFinderOptions options;
    options.m_strBaseFolder = folder / L"missing";
    options.m_bRecursive = TRUE;
    EXPECT_EQ(finder.FindFiles(options), 0);

    // An empty folder must not turn into the root of the current drive.
    CLogCapture log;
    options.m_strBaseFolder.Empty();
    EXPECT_EQ(finder.FindFiles(options), 0);
    EXPECT_TRUE(log.HasMessage(L"CFileFinder::FindFiles called without a base folder"));
}

TEST(FileFinder, SizeRangeIncludesBothEndsAndUses64Bits)
{
    CTempFolder folder;
    for (int size : {9, 10, 20, 21}) {
        WriteTestFile(folder / (FormatString(L"%d.bin", size)).GetString(), std::string(static_cast<size_t>(size), 'z'));
    }
    CFileFinder finder;
    CFileFinderOptions options;
    options.m_strBaseFolder = folder.Path();
    options.m_strMask = L"*.bin";
    options.m_dwFilters = CFileFinderOptions::kFilterSize;
    options.m_nMinSize = 10;
    options.m_nMaxSize = 20;
    EXPECT_EQ(finder.FindFiles(options), 2);
    EXPECT_EQ(Relative(finder, folder).size(), 2u);
    for (const CString& path : Relative(finder, folder)) {
        EXPECT_TRUE(path == L"10.bin" || path == L"20.bin") << path.ToUtf8();
    }

    // A sparse file of 4 GiB + 5 bytes: its low 32 bits alone would read 5.
    const CString big = folder / L"big.bin";
    {
        CHandle h(CreateFileW(big, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(h.valid());
        LARGE_INTEGER size;
        size.QuadPart = 0x100000005LL;
        ASSERT_TRUE(SetFilePointerEx(h.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(h.get()));
    }
    options.m_strMask = L"big.bin";
    options.m_nMinSize = 0;
    options.m_nMaxSize = 5;
    EXPECT_EQ(finder.FindFiles(options), 0);
    options.m_nMinSize = 0x100000005ULL;
    options.m_nMaxSize = 0x100000005ULL;
    EXPECT_EQ(finder.FindFiles(options), 1);
}

TEST(FileFinder, TimeRangesIncludeBothEndsAndEachFilterReadsItsOwnTime)
{
    CTempFolder folder;
    const CTime t0(1700000000);
    // Last write at t0-1, t0, t0+1; last access the other way round.
    const wchar_t* names[] = {L"early.txt", L"exact.txt", L"late.txt"};
    for (int i = 0; i < 3; ++i) {
        const CString path = folder / names[i];
        WriteTestFile(path, "t");
        const FILETIME write = (t0 + (i - 1)).ToFileTime();
        const FILETIME access = (t0 - (i - 1)).ToFileTime();
        SetTimes(path, &access, &write);
    }
    CFileFinder finder;
    CFileFinderOptions options;
    options.m_strBaseFolder = folder.Path();
    options.m_dwFilters = CFileFinderOptions::kFilterLastWrite;
    options.m_timeLastWriteFrom = t0;
    options.m_timeLastWriteTo = t0;
    EXPECT_EQ(finder.FindFiles(options), 1);
    EXPECT_EQ(Relative(finder, folder), (Paths{L"exact.txt"}));

    options.m_timeLastWriteTo = t0 + 1;
    EXPECT_EQ(finder.FindFiles(options), 2);

    options.m_dwFilters = CFileFinderOptions::kFilterLastAccess;
    options.m_timeLastAccessFrom = t0 + 1;
    options.m_timeLastAccessTo = t0 + 1;
    EXPECT_EQ(finder.FindFiles(options), 1);
    EXPECT_EQ(Relative(finder, folder), (Paths{L"early.txt"}));

    // Filters combine: last write in [t0, t0+1] and last access in [t0-1, t0].
    options.m_dwFilters = CFileFinderOptions::kFilterLastWrite | CFileFinderOptions::kFilterLastAccess;
    options.m_timeLastAccessFrom = t0 - 1;
    options.m_timeLastAccessTo = t0;
    EXPECT_EQ(finder.FindFiles(options), 2);

    // Wine keeps no creation time of its own: it reads back as the last
    // write time, which is enough to see the range applied.
    options.m_dwFilters = CFileFinderOptions::kFilterCreation;
    options.m_timeCreationFrom = t0 - 1;
    options.m_timeCreationTo = t0 - 1;
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(folder / L"early.txt", GetFileExInfoStandard, &data));
    const int expected = CTime::FromFileTime(data.ftCreationTime) == t0 - 1 ? 1 : 0;
    EXPECT_EQ(finder.FindFiles(options), expected);
}

TEST(FileFinder, TextFilterIgnoresCaseAndFindsTextAcrossReadPieces)
{
    CTempFolder folder;
    std::string straddling(200000, '.');
    straddling.replace(65536 - 3, 6, "NeEdLe");
    WriteTestFile(folder / L"straddling.txt", straddling);
    std::string atEnd(131072, '-');
    atEnd += "needle";
    WriteTestFile(folder / L"end.txt", atEnd);
    WriteTestFile(folder / L"small.txt", "a NEEDLE here");
    WriteTestFile(folder / L"partial.txt", std::string(65533, ' ') + "need" + std::string(10, ' ') + "le");
    WriteTestFile(folder / L"none.txt", std::string(300000, 'n'));
    WriteTestFile(folder / L"empty.txt", "");
    CreateTestFolders(folder / L"needle.dir");

    CFileFinder finder;
    CFileFinderOptions options;
    options.m_strBaseFolder = folder.Path();
    options.m_dwFilters = CFileFinderOptions::kFilterText;
    options.m_strText = L"nEEdle";
    finder.FindFiles(options);
    Paths found = Relative(finder, folder);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (Paths{L"end.txt", L"small.txt", L"straddling.txt"}));

    options.m_strText.Empty();
    EXPECT_EQ(finder.FindFiles(options), 0);

    // A file that cannot be opened fails the filter.
    options.m_strText = L"needle";
    CHelperProcess holder;
    ASSERT_TRUE(holder.Start(L"hold-file \"" + folder / L"small.txt" + L"\" none"));
    finder.FindFiles(options);
    found = Relative(finder, folder);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (Paths{L"end.txt", L"straddling.txt"}));
}

TEST(FileFinder, CallbackReportsFoldersEntriesAndTextProgress)
{
    CTempFolder folder;
    WriteTestFile(folder / L"top\\keep.txt", "x");
    WriteTestFile(folder / L"top\\skip.log", "x");
    WriteTestFile(folder / L"top\\sub\\keep2.txt", "x");
    struct CJournal {
        std::vector<std::pair<DWORD, CString>> events;
    } journal;
    CFileFinder finder;
    finder.SetCallback(
        [](CFileFinder* pFinder, DWORD dwCode, void* pValue) {
            auto* j = static_cast<CJournal*>(pValue);
            j->events.emplace_back(dwCode, dwCode == CFileFinder::kFolderEntered ? pFinder->GetSearchFolder()
                                                                                  : CString());
        },
        &journal);
    CFileFinderOptions options;
    options.m_strBaseFolder = folder / L"top";
    options.m_bRecursive = TRUE;
    options.m_dwFilters = CFileFinderOptions::kFilterSize;
    options.m_nMinSize = 0;
    options.m_nMaxSize = 1;
    options.m_strMask = L"*.txt";
    finder.FindFiles(options);
    // sub holds one matching file; top holds keep.txt (added) and no other
    // *.txt; skip.log never reaches the filters.
    const std::vector<std::pair<DWORD, CString>> expected = {
        {CFileFinder::kFolderEntered, folder / L"top\\sub\\"},
        {CFileFinder::kEntryAdded, CString()},
        {CFileFinder::kFolderEntered, folder / L"top\\"},
        {CFileFinder::kEntryAdded, CString()},
    };
    EXPECT_EQ(journal.events, expected);

    journal.events.clear();
    options.m_nMinSize = 2;
    options.m_nMaxSize = 3;
    finder.FindFiles(options);
    EXPECT_EQ(journal.events.size(), 4u);
    EXPECT_EQ(journal.events[1].first, static_cast<DWORD>(CFileFinder::kEntryRejected));
    EXPECT_EQ(journal.events[3].first, static_cast<DWORD>(CFileFinder::kEntryRejected));

    // Eleven reads of a file without the text: one progress notice.
    WriteTestFile(folder / L"long\\data.bin", std::string(700000, 'q'));
    journal.events.clear();
    options.m_strBaseFolder = folder / L"long";
    options.m_strMask = L"*.*";
    options.m_bRecursive = FALSE;
    options.m_dwFilters = CFileFinderOptions::kFilterText;
    options.m_strText = L"nope!";
    finder.FindFiles(options);
    int notices = 0;
    for (const auto& e : journal.events) {
        notices += e.first == CFileFinder::kTextProgress ? 1 : 0;
    }
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(journal.events.back().first, static_cast<DWORD>(CFileFinder::kEntryRejected));
}

TEST_F(FileFinderTree, StopEndsTheWholeSearchAndKeepsWhatWasFound)
{
    CFileFinder finder;
    struct CState {
        int folders = 0;
    } state;
    finder.SetCallback(
        [](CFileFinder* pFinder, DWORD dwCode, void* pValue) {
            auto* s = static_cast<CState*>(pValue);
            s->folders += dwCode == CFileFinder::kFolderEntered ? 1 : 0;
            if (dwCode == CFileFinder::kEntryAdded) {
                pFinder->StopSearch();
            }
        },
        &state);
    // The first match is in c; b and a are never entered after it.
    EXPECT_EQ(finder.FindFiles(Options(L"*.txt", TRUE)), 1);
    EXPECT_EQ(Relative(finder, m_folder), (Paths{L"a\\b\\c\\5.txt"}));
    EXPECT_EQ(state.folders, 1);

    // The next search starts afresh.
    finder.SetCallback(nullptr, nullptr);
    EXPECT_EQ(finder.FindFiles(Options(L"*.txt", TRUE)), 3);
}

TEST(FileFinder, StopFromAnotherThreadEndsALongTextSearch)
{
    CTempFolder folder;
    constexpr int kFiles = 20;
    for (int i = 0; i < kFiles; ++i) {
        WriteTestFile(folder / FormatString(L"f%02d.bin", i).GetString(), std::string(1000000, 'a'));
    }
    struct CState {
        CHandle started{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        std::atomic<int> examined{0};
    } state;
    CFileFinder finder;
    finder.SetCallback(
        [](CFileFinder*, DWORD dwCode, void* pValue) {
            auto* s = static_cast<CState*>(pValue);
            if (dwCode == CFileFinder::kTextProgress) {
                SetEvent(s->started.get());
                // Holds the search here until the stop has been asked for.
                Sleep(50);
            } else {
                ++s->examined;
            }
        },
        &state);
    CFileFinderOptions options;
    options.m_strBaseFolder = folder.Path();
    options.m_dwFilters = CFileFinderOptions::kFilterText;
    options.m_strText = L"b";
    std::thread searcher([&] { finder.FindFiles(options); });
    ASSERT_EQ(WaitForSingleObject(state.started.get(), 30000), WAIT_OBJECT_0);
    finder.StopSearch();
    searcher.join();
    EXPECT_LE(state.examined.load(), 2);
    EXPECT_EQ(finder.GetFileCount(), 0);
}
