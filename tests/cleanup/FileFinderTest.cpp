#include "cleanup/FileFinder.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/Handles.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

// A finder over a test folder that records each step it reports: "[folder]"
// entered, "+" added, "-" rejected, "p" text progress.
class FileFinderTest : public ::testing::Test {
protected:
    void SetUp() override { m_finder.SetCallback(&Record, this); }

    static void Record(CFileFinder* pFinder, DWORD dwCode, void* pTest)
    {
        auto* test = static_cast<FileFinderTest*>(pTest);
        test->m_steps += dwCode == CFileFinder::kFolderEntered ? "[" + test->Relative(pFinder->GetSearchFolder()) + "]"
                                                                 : std::string(1, "+-?p"[dwCode & 3]);
        if (test->m_bStopAtFirstMatch && dwCode == CFileFinder::kEntryAdded) {
            pFinder->StopSearch();
        }
    }
    std::string Relative(const CString& strPath) const { return strPath.Mid(m_folder.Path().GetLength() + 1).ToUtf8(); }

    // Searches with the options as set, below the test folder; returns the
    // results in the order found, relative to the test folder.
    std::string Find(const wchar_t* pszBase, const wchar_t* pszMask, BOOL bRecursive, DWORD dwFilters)
    {
        m_options.m_strBaseFolder = pszBase != nullptr ? m_folder / pszBase : CString();
        m_options.m_strMask = pszMask;
        m_options.m_bRecursive = bRecursive;
        m_options.m_dwFilters = dwFilters;
        m_steps.clear();
        std::string found;
        for (int i = 0, n = m_finder.FindFiles(m_options); i < n; ++i) {
            found += (found.empty() ? "" : " ") + Relative(m_finder.GetFilePath(i));
        }
        return found;
    }

    CTempFolder m_folder;
    CFileFinder m_finder;
    CFileFinderOptions m_options;
    std::string m_steps;
    bool m_bStopAtFirstMatch = false;
};

}  // namespace

TEST_F(FileFinderTest, SubfoldersComeFirstAndTheCallbackSeesEveryStepUntilAStop)
{
    // a\b\c with a .txt and a .log file in each, and an empty folder a\e.
    for (const wchar_t* name : {L"a\\1.txt", L"a\\2.log", L"a\\b\\3.txt", L"a\\b\\4.log", L"a\\b\\c\\5.txt",
                                L"a\\b\\c\\6.log"}) {
        WriteTestFile(m_folder / name, "x");
    }
    CreateTestFolders(m_folder / L"a\\e");
    EXPECT_EQ(Find(L"a", L"*.txt", TRUE, 0), "a\\b\\c\\5.txt a\\b\\3.txt a\\1.txt");
    EXPECT_EQ(m_steps, "[a\\b\\c\\]+[a\\b\\]+[a\\e\\][a\\]+");
    EXPECT_EQ(Find(L"a\\", L"*.txt", FALSE, 0), "a\\1.txt");
    EXPECT_TRUE(m_finder.GetFilePath(-1).IsEmpty() && m_finder.GetFilePath(1).IsEmpty());
    // Folders only when the mask allows: by name without the attribute filter.
    EXPECT_EQ(Find(L"a", L"e", TRUE, 0), "a\\e");
    m_options.m_dwAttributes = CFileFinderOptions::kFilesAndFolders;
    EXPECT_EQ(Find(L"a\\b", L"*.*", TRUE, CFileFinderOptions::kFilterAttributes),
              "a\\b\\c\\5.txt a\\b\\c\\6.log a\\b\\3.txt a\\b\\4.log a\\b\\c");
    m_options.m_dwAttributes = CFileFinderOptions::kFilesOnly;
    EXPECT_EQ(Find(L"a\\b", L"*.*", TRUE, CFileFinderOptions::kFilterAttributes),
              "a\\b\\c\\5.txt a\\b\\c\\6.log a\\b\\3.txt a\\b\\4.log");
    EXPECT_EQ(m_finder.ListFiles(m_folder / L"a", L"*.log", TRUE), 3);

    m_options.m_nMaxSize = 0;  // every file is rejected
    Find(L"a\\b", L"*.txt", TRUE, CFileFinderOptions::kFilterSize);
    EXPECT_EQ(m_steps, "[a\\b\\c\\]-[a\\b\\]-");
    // Stopped at its first match (in c), the search enters no other folder.
    m_bStopAtFirstMatch = true;
    EXPECT_EQ(Find(L"a", L"*.txt", TRUE, 0), "a\\b\\c\\5.txt");
    EXPECT_EQ(m_steps, "[a\\b\\c\\]+");

    EXPECT_EQ(Find(L"missing", L"*.*", TRUE, 0), "");
    // An empty folder must not become the root of the current drive.
    EXPECT_EQ(Find(nullptr, L"*.*", TRUE, 0), "");
    EXPECT_EQ(m_steps, "");
}

TEST_F(FileFinderTest, SizeAndTimeRangesIncludeBothEnds)
{
    for (int size : {9, 10, 20, 21}) {
        WriteTestFile(m_folder / FormatString(L"%d.bin", size).GetString(), std::string(static_cast<size_t>(size), 'z'));
    }
    m_options.m_nMinSize = 10;
    m_options.m_nMaxSize = 20;
    EXPECT_EQ(Find(L"", L"*.bin", FALSE, CFileFinderOptions::kFilterSize), "10.bin 20.bin");
    // 4 GiB + 5 bytes, sparse: its low 32 bits alone would read 5.
    {
        CHandle h(CreateFileW(m_folder / L"big.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(SetFilePointerEx(h.get(), LARGE_INTEGER{{5, 1}}, nullptr, FILE_BEGIN) && SetEndOfFile(h.get()));
    }
    m_options.m_nMinSize = 0;
    m_options.m_nMaxSize = 5;
    EXPECT_EQ(Find(L"", L"big.bin", FALSE, CFileFinderOptions::kFilterSize), "");
    m_options.m_nMinSize = m_options.m_nMaxSize = 0x100000005ULL;
    EXPECT_EQ(Find(L"", L"big.bin", FALSE, CFileFinderOptions::kFilterSize), "big.bin");

    // Last write at t0-1, t0, t0+1; last access the other way round. Wine
    // keeps no creation time: it reads back as the last write.
    const CTime t0(1700000000);
    const wchar_t* names[] = {L"early.txt", L"exact.txt", L"late.txt"};
    for (int i = 0; i < 3; ++i) {
        WriteTestFile(m_folder / names[i], "t");
        const FILETIME write = (t0 + (i - 1)).ToFileTime();
        const FILETIME access = (t0 - (i - 1)).ToFileTime();
        CHandle h(CreateFileW(m_folder / names[i], FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(h.get(), nullptr, &access, &write));
    }
    m_options.m_timeLastWriteFrom = m_options.m_timeLastWriteTo = t0;
    m_options.m_timeLastAccessFrom = m_options.m_timeLastAccessTo = t0 + 1;
    m_options.m_timeCreationFrom = m_options.m_timeCreationTo = t0 + 1;
    EXPECT_EQ(Find(L"", L"*.txt", FALSE, CFileFinderOptions::kFilterLastWrite), "exact.txt");
    EXPECT_EQ(Find(L"", L"*.txt", FALSE, CFileFinderOptions::kFilterLastAccess), "early.txt");
    EXPECT_EQ(Find(L"", L"*.txt", FALSE, CFileFinderOptions::kFilterCreation), "late.txt");
}

TEST_F(FileFinderTest, TextFilterIgnoresCaseAndFindsTextAcrossReadPieces)
{
    std::string straddling(200000, '.');
    straddling.replace(65536 - 3, 6, "NeEdLe");
    WriteTestFile(m_folder / L"1-straddling.txt", straddling);
    WriteTestFile(m_folder / L"2-end.txt", std::string(131072, '-') + "needle");
    WriteTestFile(m_folder / L"3-small.txt", "a NEEDLE here");
    WriteTestFile(m_folder / L"4-split.txt", std::string(65533, ' ') + "need" + std::string(10, ' ') + "le");
    WriteTestFile(m_folder / L"5-long.txt", std::string(700000, 'n'));
    CreateTestFolders(m_folder / L"6-needle");

    m_options.m_strText = L"nEEdle";
    EXPECT_EQ(Find(L"", L"*.*", FALSE, CFileFinderOptions::kFilterText), "1-straddling.txt 2-end.txt 3-small.txt");
    // long.txt alone takes ten reads or more (of 64 KiB), and fewer than twenty.
    EXPECT_EQ(m_steps, "[]+++-p--");
    // A file that cannot be opened fails; an empty text matches nothing.
    CHelperProcess holder;
    ASSERT_TRUE(holder.Start(L"hold-file \"" + m_folder / L"3-small.txt" + L"\" none"));
    EXPECT_EQ(Find(L"", L"*.*", FALSE, CFileFinderOptions::kFilterText), "1-straddling.txt 2-end.txt");
    m_options.m_strText.Empty();
    EXPECT_EQ(Find(L"", L"*.*", FALSE, CFileFinderOptions::kFilterText), "");
}
