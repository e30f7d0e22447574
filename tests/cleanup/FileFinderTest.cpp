#include "cleanup/FileFinder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

using Paths = std::vector<CString>;

// The results, relative to the folder, in the order found.
Paths Found(const CFileFinder& finder, const CTempFolder& folder)
{
    Paths paths;
    for (int i = 0; i < finder.GetFileCount(); ++i) {
        const CString path = finder.GetFilePath(i);
        EXPECT_EQ(path.Left(folder.Path().GetLength() + 1), folder.Path() + L"\\");
        paths.push_back(path.Mid(folder.Path().GetLength() + 1));
    }
    return paths;
}

Paths Sorted(Paths paths)
{
    std::sort(paths.begin(), paths.end());
    return paths;
}

CFileFinderOptions Options(const CString& strFolder, const wchar_t* pszMask, BOOL bRecursive, DWORD dwFilters = 0)
{
    CFileFinderOptions options;
    options.m_strBaseFolder = strFolder;
    options.m_strMask = pszMask;
    options.m_bRecursive = bRecursive;
    options.m_dwFilters = dwFilters;
    return options;
}

// a\b\c with a .txt and a .log file in each, and an empty folder a\e.
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

    CTempFolder m_folder;
    CString m_a = m_folder / L"a";
};

}  // namespace

TEST_F(FileFinderTree, SubfoldersComeFirstAndFoldersOnlyWhenTheMaskAllows)
{
    CFileFinder finder;
    EXPECT_EQ(finder.FindFiles(Options(m_a, L"*.txt", TRUE)), 3);
    EXPECT_EQ(Found(finder, m_folder), (Paths{L"a\\b\\c\\5.txt", L"a\\b\\3.txt", L"a\\1.txt"}));
    // A second search replaces the first one's results.
    EXPECT_EQ(finder.FindFiles(Options(m_a + L"\\", L"*.txt", FALSE)), 1);
    EXPECT_EQ(Found(finder, m_folder), (Paths{L"a\\1.txt"}));
    EXPECT_TRUE(finder.GetFilePath(-1).IsEmpty());
    EXPECT_TRUE(finder.GetFilePath(1).IsEmpty());

    CFileFinderOptions options = Options(m_a, L"*.*", TRUE, CFileFinderOptions::kFilterAttributes);
    options.m_dwAttributes = CFileFinderOptions::kFilesAndFolders;
    finder.FindFiles(options);
    const Paths all = Found(finder, m_folder);
    ASSERT_EQ(all.size(), 9u) << ::testing::PrintToString(all);
    auto at = [&](const wchar_t* name) { return std::find(all.begin(), all.end(), CString(name)) - all.begin(); };
    EXPECT_LT(at(L"a\\e"), 9);
    for (const wchar_t* inside : {L"a\\b\\c\\5.txt", L"a\\b\\c\\6.log"}) {
        EXPECT_LT(at(inside), at(L"a\\b\\c"));
    }
    for (const wchar_t* inside : {L"a\\b\\3.txt", L"a\\b\\4.log", L"a\\b\\c"}) {
        EXPECT_LT(at(inside), at(L"a\\b"));
    }
    options.m_dwAttributes = CFileFinderOptions::kFilesOnly;
    EXPECT_EQ(finder.FindFiles(options), 6);
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const CString& p) { return p.Find(L'.') < 0; }), 3);

    // Without the attribute filter a folder whose name matches is listed.
    EXPECT_EQ(finder.FindFiles(Options(m_a, L"e", TRUE)), 1);
    // The shortcut lists files only.
    EXPECT_EQ(finder.ListFiles(m_a, L"*", TRUE), 6);
    EXPECT_EQ(finder.ListFiles(m_a, L"*.log", TRUE), 3);
    EXPECT_EQ(Found(finder, m_folder), (Paths{L"a\\b\\c\\6.log", L"a\\b\\4.log", L"a\\2.log"}));
}

TEST_F(FileFinderTree, CallbackSeesEveryStepAndStopEndsTheWholeSearch)
{
    using Events = std::vector<std::pair<DWORD, CString>>;
    struct CJournal {
        Events events;
        bool bStopAtFirstMatch = false;
    } journal;
    CFileFinder finder;
    finder.SetCallback(
        [](CFileFinder* pFinder, DWORD dwCode, void* pJournal) {
            auto* j = static_cast<CJournal*>(pJournal);
            j->events.emplace_back(dwCode, dwCode == CFileFinder::kFolderEntered ? pFinder->GetSearchFolder() : L"");
            if (j->bStopAtFirstMatch && dwCode == CFileFinder::kEntryAdded) {
                pFinder->StopSearch();
            }
        },
        &journal);
    CFileFinderOptions options = Options(m_a + L"\\b", L"*.txt", TRUE, CFileFinderOptions::kFilterSize);
    finder.FindFiles(options);
    EXPECT_EQ(journal.events, (Events{{CFileFinder::kFolderEntered, m_folder / L"a\\b\\c\\"},
                                      {CFileFinder::kEntryRejected, L""},
                                      {CFileFinder::kFolderEntered, m_folder / L"a\\b\\"},
                                      {CFileFinder::kEntryRejected, L""}}));
    journal.events.clear();
    options.m_nMaxSize = 1;
    finder.FindFiles(options);
    EXPECT_EQ(journal.events[1].first, DWORD{CFileFinder::kEntryAdded});
    EXPECT_EQ(journal.events[3].first, DWORD{CFileFinder::kEntryAdded});

    // Stopped at its first match (in c), the search enters no other folder.
    journal.events.clear();
    journal.bStopAtFirstMatch = true;
    EXPECT_EQ(finder.FindFiles(Options(m_a, L"*.txt", TRUE)), 1);
    EXPECT_EQ(Found(finder, m_folder), (Paths{L"a\\b\\c\\5.txt"}));
    EXPECT_EQ(journal.events.size(), 2u);
}

TEST(FileFinder, MissingOrEmptyBaseFolderGivesNothing)
{
    CTempFolder folder;
    CFileFinder finder;
    EXPECT_EQ(finder.FindFiles(Options(folder / L"missing", L"*.*", TRUE)), 0);
    // An empty folder must not become the root of the current drive.
    CLogCapture log;
    EXPECT_EQ(finder.FindFiles(Options(CString(), L"*.*", TRUE)), 0);
    EXPECT_TRUE(log.HasMessage(L"CFileFinder::FindFiles called without a base folder"));
}

TEST(FileFinder, SizeAndTimeRangesIncludeBothEnds)
{
    CTempFolder folder;
    for (int size : {9, 10, 20, 21}) {
        WriteTestFile(folder / FormatString(L"%d.bin", size).GetString(), std::string(static_cast<size_t>(size), 'z'));
    }
    CFileFinder finder;
    CFileFinderOptions options = Options(folder.Path(), L"*.bin", FALSE, CFileFinderOptions::kFilterSize);
    options.m_nMinSize = 10;
    options.m_nMaxSize = 20;
    finder.FindFiles(options);
    EXPECT_EQ(Sorted(Found(finder, folder)), (Paths{L"10.bin", L"20.bin"}));
    // 4 GiB + 5 bytes, sparse: its low 32 bits alone would read 5.
    {
        CHandle h(CreateFileW(folder / L"big.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        LARGE_INTEGER size;
        size.QuadPart = 0x100000005LL;
        ASSERT_TRUE(SetFilePointerEx(h.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(h.get()));
    }
    options.m_strMask = L"big.bin";
    options.m_nMinSize = 0;
    options.m_nMaxSize = 5;
    EXPECT_EQ(finder.FindFiles(options), 0);
    options.m_nMinSize = options.m_nMaxSize = 0x100000005ULL;
    EXPECT_EQ(finder.FindFiles(options), 1);

    // Last write at t0-1, t0, t0+1; last access the other way round.
    const CTime t0(1700000000);
    const wchar_t* names[] = {L"early.txt", L"exact.txt", L"late.txt"};
    for (int i = 0; i < 3; ++i) {
        WriteTestFile(folder / names[i], "t");
        const FILETIME write = (t0 + (i - 1)).ToFileTime();
        const FILETIME access = (t0 - (i - 1)).ToFileTime();
        CHandle h(CreateFileW(folder / names[i], FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(h.get(), nullptr, &access, &write));
    }
    options = Options(folder.Path(), L"*.txt", FALSE, CFileFinderOptions::kFilterLastWrite);
    options.m_timeLastWriteFrom = options.m_timeLastWriteTo = t0;
    finder.FindFiles(options);
    EXPECT_EQ(Found(finder, folder), (Paths{L"exact.txt"}));
    options.m_dwFilters = CFileFinderOptions::kFilterLastAccess;
    options.m_timeLastAccessFrom = options.m_timeLastAccessTo = t0 + 1;
    finder.FindFiles(options);
    EXPECT_EQ(Found(finder, folder), (Paths{L"early.txt"}));
    options.m_dwFilters |= CFileFinderOptions::kFilterLastWrite;
    options.m_timeLastWriteTo = t0 + 1;
    options.m_timeLastAccessFrom = t0 - 1;
    EXPECT_EQ(finder.FindFiles(options), 2);
    // Wine keeps no creation time: it reads back as the last write.
    options.m_dwFilters = CFileFinderOptions::kFilterCreation;
    options.m_timeCreationFrom = options.m_timeCreationTo = t0 + 1;
    finder.FindFiles(options);
    EXPECT_EQ(Found(finder, folder), (Paths{L"late.txt"}));
}

TEST(FileFinder, TextFilterIgnoresCaseAndFindsTextAcrossReadPieces)
{
    CTempFolder folder;
    std::string straddling(200000, '.');
    straddling.replace(65536 - 3, 6, "NeEdLe");
    WriteTestFile(folder / L"straddling.txt", straddling);
    WriteTestFile(folder / L"end.txt", std::string(131072, '-') + "needle");
    WriteTestFile(folder / L"small.txt", "a NEEDLE here");
    WriteTestFile(folder / L"split.txt", std::string(65533, ' ') + "need" + std::string(10, ' ') + "le");
    WriteTestFile(folder / L"long.txt", std::string(700000, 'n'));
    CreateTestFolders(folder / L"needle");

    int notices = 0;
    CFileFinder finder;
    finder.SetCallback(
        [](CFileFinder*, DWORD dwCode, void* pNotices) {
            *static_cast<int*>(pNotices) += dwCode == CFileFinder::kTextProgress ? 1 : 0;
        },
        &notices);
    CFileFinderOptions options = Options(folder.Path(), L"*.*", FALSE, CFileFinderOptions::kFilterText);
    options.m_strText = L"nEEdle";
    finder.FindFiles(options);
    EXPECT_EQ(Sorted(Found(finder, folder)), (Paths{L"end.txt", L"small.txt", L"straddling.txt"}));
    // long.txt alone takes ten reads or more (of 64 KiB), and fewer than twenty.
    EXPECT_EQ(notices, 1);

    // A file that cannot be opened fails; an empty text matches nothing.
    CHelperProcess holder;
    ASSERT_TRUE(holder.Start(L"hold-file \"" + folder / L"small.txt" + L"\" none"));
    finder.FindFiles(options);
    EXPECT_EQ(Sorted(Found(finder, folder)), (Paths{L"end.txt", L"straddling.txt"}));
    options.m_strText.Empty();
    EXPECT_EQ(finder.FindFiles(options), 0);
}
