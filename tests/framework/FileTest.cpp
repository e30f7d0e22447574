#include "framework/File.h"
#include "framework/StdioFile.h"

#include <gtest/gtest.h>

#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

TEST(File, WritesReadsSeeksAndTruncatesOnlyWhenAsked)
{
    CTempFolder folder;
    const CString path = folder / L"data.bin";
    {
        CFile file;
        ASSERT_TRUE(file.Open(path, CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyNone));
        file.Write("0123456789", 10);
        EXPECT_EQ(file.GetPosition(), 10u);
        EXPECT_EQ(file.Seek(-4, CFile::end), 6u);
        char buf[8] = {};
        EXPECT_EQ(file.Read(buf, 8), 4u);
        EXPECT_EQ(std::string(buf, 4), "6789");
        EXPECT_EQ(file.Read(buf, 8), 0u);
        file.Seek(2, CFile::begin);
        file.Write("ab", 2);
        file.SetLength(5);
    }
    EXPECT_EQ(ReadTestFile(path), "01ab4");
    EXPECT_EQ(CFile(path, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite).GetLength(), 5u);
    EXPECT_EQ(CFile(path, CFile::modeCreate | CFile::modeWrite).GetLength(), 0u);
}

TEST(File, FailuresCarryCauseOsErrorAndPath)
{
    CTempFolder folder;
    const CString missing = folder / L"missing.txt";
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(missing, CFile::modeRead, &error));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(error.m_lOsError, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(error.m_strFileName, missing);
    wchar_t text[1024];
    EXPECT_TRUE(error.GetErrorMessage(text, 1024));
    EXPECT_NE(CString(text).Find(missing), -1);
    // A message never runs past the caller's buffer.
    wchar_t small[8];
    wmemset(small, L'#', 8);
    EXPECT_TRUE(error.GetErrorMessage(small, 8));
    EXPECT_EQ(wcslen(small), 7u);
    const CException plain;
    EXPECT_FALSE(plain.GetErrorMessage(text, 16));
    EXPECT_EQ(text[0], L'\0');

    EXPECT_FALSE(file.Open(folder / L"no\\such\\dir\\x.txt", CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::badPath);
    EXPECT_THROW(CFile(missing, CFile::modeRead), CFileException);

    const CString path = folder / L"w.txt";
    WriteTestFile(path, "abc");
    CFile writeOnly(path, CFile::modeWrite);
    char buf[4];
    try {
        writeOnly.Read(buf, 3);
        FAIL() << "reading a write-only handle must throw";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_lOsError, ERROR_ACCESS_DENIED);
        EXPECT_EQ(e.m_cause, CFileException::accessDenied);
        EXPECT_EQ(e.m_strFileName, path);
    }
}

TEST(File, ShareModesAgainstAnotherProcess)
{
    CTempFolder folder;
    const CString path = folder / L"held.txt";
    WriteTestFile(path, "held");

    CHelperProcess exclusive;
    ASSERT_TRUE(exclusive.Start(L"hold-file \"" + path + L"\" none"));
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(path, CFile::modeReadWrite | CFile::shareDenyNone, &error));
    EXPECT_EQ(error.m_lOsError, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
    EXPECT_EQ(exclusive.Stop(), 0);

    CHelperProcess sharing;
    ASSERT_TRUE(sharing.Start(L"hold-file \"" + path + L"\" readwrite"));
    EXPECT_TRUE(file.Open(path, CFile::modeReadWrite | CFile::shareDenyNone));
    file.Close();
    // Our exclusive open must fail while the helper has the file open at all.
    EXPECT_FALSE(file.Open(path, CFile::modeRead | CFile::shareExclusive, &error));
    EXPECT_EQ(error.m_lOsError, ERROR_SHARING_VIOLATION);
}

TEST(File, LockedRangesConflictBetweenHandles)
{
    CTempFolder folder;
    const CString path = folder / L"locked.dat";
    WriteTestFile(path, std::string(512, 'x'));
    CFile first(path, CFile::modeReadWrite | CFile::shareDenyNone);
    CFile second(path, CFile::modeReadWrite | CFile::shareDenyNone);
    first.LockRange(128, 128);
    try {
        second.LockRange(200, 10);
        FAIL() << "an overlapping lock must be refused";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_lOsError, ERROR_LOCK_VIOLATION);
        EXPECT_EQ(e.m_cause, CFileException::lockViolation);
    }
    second.LockRange(256, 10);
    second.UnlockRange(256, 10);
    first.UnlockRange(128, 128);
    second.LockRange(200, 10);
    EXPECT_THROW(second.UnlockRange(0, 1), CFileException);
}

TEST(StdioFile, ReadsLinesOfAnyLengthWithoutTheirEnds)
{
    CTempFolder folder;
    const CString path = folder / L"lines.txt";
    // The long line spans the read buffer.
    const std::string longLine(10000, 'q');
    WriteTestFile(path, "first\r\n\r\nthird\n" + longLine + "\r\nlast without end");
    CStdioFile file;
    ASSERT_TRUE(file.Open(path, CFile::modeRead | CFile::shareDenyWrite));
    std::string line;
    std::vector<std::string> lines;
    while (file.ReadString(line)) {
        lines.push_back(line);
    }
    const std::vector<std::string> expected = {"first", "", "third", longLine, "last without end"};
    EXPECT_EQ(lines, expected);
    EXPECT_FALSE(file.ReadString(line));
    EXPECT_TRUE(line.empty());
}

TEST(StdioFile, WritesCrLfLineEnds)
{
    CTempFolder folder;
    const CString path = folder / L"out.txt";
    {
        CStdioFile file;
        ASSERT_TRUE(file.Open(path, CFile::modeCreate | CFile::modeWrite));
        file.WriteLine("[Section]");
        file.WriteString("a\nb\n");
        file.WriteLine("");
    }
    EXPECT_EQ(ReadTestFile(path), "[Section]\r\na\r\nb\r\n\r\n");
}
