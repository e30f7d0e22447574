#include "framework/File.h"
#include "framework/Handles.h"
#include "framework/Registry.h"
#include "framework/StdioFile.h"

#include <gtest/gtest.h>

#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

// The exception the call throws; a failure when it throws none.
template <typename Call>
CFileException Thrown(Call call)
{
    try {
        call();
    } catch (const CFileException& e) {
        return e;
    }
    ADD_FAILURE() << "no CFileException";
    return CFileException();
}

}  // namespace

TEST(File, TruncatesOnlyWhenAskedAndReadsLinesOfAnyLength)
{
    CTempFolder folder;
    const CString path = folder / L"data.bin";
    {
        CFile file(path, CFile::modeCreate | CFile::modeReadWrite);
        file.Write("0123456789", 10);
        EXPECT_EQ(file.Seek(-4, CFile::end), 6u);
        file.SetLength(5);
    }
    EXPECT_EQ(CFile(path, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite).GetLength(), 5u);
    EXPECT_EQ(CFile(path, CFile::modeCreate | CFile::modeWrite).GetLength(), 0u);

    // Text lines of any length, without their ends.
    const std::string longLine(10000, 'q');  // spans the read buffer
    WriteTestFile(path, "first\r\n\r\nthird\n" + longLine + "\r\nlast without end");
    CStdioFile lines;
    ASSERT_TRUE(lines.Open(path, CFile::modeRead | CFile::shareDenyWrite));
    std::string line;
    std::vector<std::string> read;
    while (lines.ReadString(line)) {
        read.push_back(line);
    }
    EXPECT_EQ(read, (std::vector<std::string>{"first", "", "third", longLine, "last without end"}));
    EXPECT_TRUE(line.empty());
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
    EXPECT_EQ(Thrown([&] { CFile(missing, CFile::modeRead); }).m_cause, CFileException::fileNotFound);

    const CString path = folder / L"w.txt";
    WriteTestFile(path, std::string(512, 'x'));
    CFile writeOnly(path, CFile::modeWrite | CFile::shareDenyNone);
    char buf[4];
    const CFileException readError = Thrown([&] { writeOnly.Read(buf, 3); });
    EXPECT_EQ(readError.m_lOsError, ERROR_ACCESS_DENIED);
    EXPECT_EQ(readError.m_cause, CFileException::accessDenied);
    EXPECT_EQ(readError.m_strFileName, path);

    // Locked ranges conflict between handles.
    CFile first(path, CFile::modeReadWrite | CFile::shareDenyNone);
    first.LockRange(128, 128);
    const CFileException lockError = Thrown([&] { writeOnly.LockRange(200, 10); });
    EXPECT_EQ(lockError.m_lOsError, ERROR_LOCK_VIOLATION);
    EXPECT_EQ(lockError.m_cause, CFileException::lockViolation);
    writeOnly.LockRange(256, 10);
    writeOnly.UnlockRange(256, 10);
    first.UnlockRange(128, 128);
    writeOnly.LockRange(200, 10);
    EXPECT_THROW(writeOnly.UnlockRange(0, 1), CFileException);
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

TEST(Registry, ReadsLongAndMalformedValuesSafelyOrRefusesThem)
{
    CString strScratch;
    strScratch.Format(L"Software\\NulvaneTests\\Registry-%lu", GetCurrentProcessId());
    CRegKey key;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, strScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
        ERROR_SUCCESS);
    auto setRaw = [&](const wchar_t* pszName, DWORD dwType, const void* pData, DWORD cb) {
        ASSERT_EQ(RegSetValueExW(key.get(), pszName, 0, dwType, static_cast<const BYTE*>(pData), cb), ERROR_SUCCESS);
    };
    const CRegistry registry(key.get());
    const CString strLong(L'x', 3000);  // past the first read buffer
    EXPECT_EQ(registry.WriteString(L"a\\b", nullptr, strLong), ERROR_SUCCESS);
    setRaw(L"odd", REG_SZ, L"abc", 5);  // "ab" and half a character, no terminator
    setRaw(L"embedded", REG_SZ, L"ab\0cd", 12);
    setRaw(L"binary", REG_BINARY, "abcd", 4);
    setRaw(L"short", REG_DWORD, "ab", 2);
    CString strValue = L"unchanged";
    DWORD dwValue = 7;
    EXPECT_EQ(registry.ReadString(L"a\\b", L"", strValue), ERROR_SUCCESS);
    EXPECT_EQ(strValue, strLong);
    EXPECT_EQ(registry.ReadString(L"", L"odd", strValue), ERROR_SUCCESS);
    EXPECT_EQ(strValue, L"ab");
    EXPECT_EQ(registry.ReadString(L"", L"embedded", strValue), ERROR_SUCCESS);
    EXPECT_EQ(strValue, L"ab");
    strValue = L"unchanged";
    EXPECT_EQ(registry.ReadString(L"", L"binary", strValue), ERROR_INVALID_DATA);
    EXPECT_EQ(registry.ReadString(L"", L"missing", strValue), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.ReadString(L"nokey", L"odd", strValue), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(strValue, L"unchanged");
    EXPECT_EQ(registry.ReadDword(L"", L"short", dwValue), ERROR_INVALID_DATA);
    EXPECT_EQ(registry.ReadDword(L"", L"odd", dwValue), ERROR_INVALID_DATA);
    EXPECT_EQ(dwValue, 7u);
    key.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, strScratch);
    RegDeleteKeyW(HKEY_CURRENT_USER, strScratch);
}
