#include "framework/File.h"
#include "framework/Handles.h"
#include "framework/Registry.h"
#include "framework/StdioFile.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

TEST(File, TruncatesOnlyWhenAskedAndReadsLinesOfAnyLength)
{
    CTempFolder folder;
    const CString path = folder / L"data.bin";
    CFile(path, CFile::modeCreate | CFile::modeWrite).Write("0123456789", 10);
    EXPECT_EQ(CFile(path, CFile::modeCreate | CFile::modeWrite).GetLength(), 0u);

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
}

TEST(File, FailuresCarryCauseOsErrorAndPathAndShareModesHoldAgainstAnotherProcess)
{
    CTempFolder folder;
    const CString missing = folder / L"missing.txt";
    const CString path = folder / L"w.txt";
    const CString held = folder / L"held.txt";
    WriteTestFile(path, std::string(512, 'x'));
    WriteTestFile(held, "held");
    CFile writeOnly(path, CFile::modeWrite | CFile::shareDenyNone);
    CFile locker(path, CFile::modeReadWrite | CFile::shareDenyNone);
    locker.LockRange(128, 128);
    CHelperProcess exclusive;
    ASSERT_TRUE(exclusive.Start(L"hold-file \"" + held + L"\" none"));
    char buf[4];
    // The call, and the cause, system error and file name it throws.
    const std::tuple<std::function<void()>, int, LONG, CString> cases[] = {
        {[&] { CFile(missing, CFile::modeRead); }, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND, missing},
        {[&] { CFile(folder / L"no\\dir\\x", CFile::modeRead); }, CFileException::badPath, ERROR_PATH_NOT_FOUND,
         folder / L"no\\dir\\x"},
        {[&] { CFile(held, CFile::modeReadWrite | CFile::shareDenyNone); }, CFileException::sharingViolation,
         ERROR_SHARING_VIOLATION, held},
        {[&] { writeOnly.Read(buf, 3); }, CFileException::accessDenied, ERROR_ACCESS_DENIED, path},
        {[&] { writeOnly.LockRange(200, 10); }, CFileException::lockViolation, ERROR_LOCK_VIOLATION, path},
        {[&] { writeOnly.UnlockRange(0, 1); }, CFileException::lockViolation, ERROR_LOCK_VIOLATION, path}};
    for (const auto& [call, nCause, lOsError, strFile] : cases) {
        try {
            call();
            ADD_FAILURE() << "no exception: " << lOsError;
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_cause, nCause) << lOsError;
            EXPECT_EQ(e.m_lOsError, lOsError);
            EXPECT_EQ(e.m_strFileName, strFile);
        }
    }
    EXPECT_EQ(exclusive.Stop(), 0);

    // Our exclusive open must fail while the helper has the file open at all.
    CHelperProcess sharing;
    ASSERT_TRUE(sharing.Start(L"hold-file \"" + held + L"\" readwrite"));
    CFile file;
    EXPECT_TRUE(file.Open(held, CFile::modeReadWrite | CFile::shareDenyNone));
    file.Close();
    EXPECT_FALSE(file.Open(held, CFile::modeRead | CFile::shareExclusive));
}

TEST(Registry, ReadsLongAndMalformedValuesSafelyOrRefusesThem)
{
    const CString strScratch = FormatString(L"Software\\NulvaneTests\\Registry-%lu", GetCurrentProcessId());
    CRegKey key;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, strScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
        ERROR_SUCCESS);
    const CRegistry registry(key.get());
    const CString strLong(L'x', 3000);  // past the first read buffer
    EXPECT_EQ(registry.WriteString(L"a\\b", nullptr, strLong), ERROR_SUCCESS);
    // Name, type, data, size, and what ReadString says ("ab" when it reads): text ends
    // at the first null or the end of the data; a number is four bytes of REG_DWORD.
    const std::tuple<const wchar_t*, DWORD, const void*, DWORD, LSTATUS> values[] = {
        {L"odd", REG_SZ, L"abc", 5, ERROR_SUCCESS},  // half a character, no terminator
        {L"embedded", REG_SZ, L"ab\0cd", 12, ERROR_SUCCESS},
        {L"binary", REG_BINARY, "abcd", 4, ERROR_INVALID_DATA},
        {L"short", REG_DWORD, "ab", 2, ERROR_INVALID_DATA}};
    CString strValue;
    DWORD dwValue = 7;
    for (const auto& [pszName, dwType, pData, cb, nString] : values) {
        RegSetValueExW(key.get(), pszName, 0, dwType, static_cast<const BYTE*>(pData), cb);
        strValue = L"unchanged";
        EXPECT_EQ(registry.ReadString(L"", pszName, strValue), nString) << pszName;
        EXPECT_EQ(strValue, nString == ERROR_SUCCESS ? L"ab" : L"unchanged") << pszName;
        EXPECT_EQ(registry.ReadDword(L"", pszName, dwValue), ERROR_INVALID_DATA) << pszName;
    }
    EXPECT_EQ(dwValue, 7u);
    EXPECT_EQ(registry.ReadString(L"", L"missing", strValue), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.ReadDword(L"", L"missing", dwValue), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.ReadString(L"a\\b", L"", strValue), ERROR_SUCCESS);
    EXPECT_EQ(strValue, strLong);
    EXPECT_EQ(registry.ReadString(L"nokey", L"odd", strValue), ERROR_FILE_NOT_FOUND);
    key.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, strScratch);
    RegDeleteKeyW(HKEY_CURRENT_USER, strScratch);
}
