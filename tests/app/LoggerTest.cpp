#include "app/Logger.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "framework/Handles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"

namespace {

// An exception whose message the logger must copy as it is.
class CTextException : public CException {
public:
    explicit CTextException(const wchar_t* pszText) : m_strText(pszText) {}
    BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const override
    {
        if (pnHelpContext != nullptr) {
            *pnHelpContext = 0;
        }
        return CopyMessage(m_strText, lpszError, nMaxError);
    }

private:
    CString m_strText;
};

class CThrowingException : public CException {
public:
    BOOL GetErrorMessage(LPWSTR, UINT, PUINT) const override { throw std::runtime_error("no text"); }
};

CString OnlyLine(const CLogCapture& capture)
{
    const std::vector<CString> lines = capture.Lines();
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? CString() : lines.back();
}

OSVERSIONINFOEXW Version(DWORD platform, DWORD major, DWORD minor, const wchar_t* servicePack = L"",
                         WORD suiteMask = 0)
{
    OSVERSIONINFOEXW osvi = {};
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    osvi.dwPlatformId = platform;
    osvi.dwMajorVersion = major;
    osvi.dwMinorVersion = minor;
    wcsncpy(osvi.szCSDVersion, servicePack, 127);
    osvi.wSuiteMask = suiteMask;
    return osvi;
}

CString OsName(const OSVERSIONINFOEXW& osvi, COsMetrics metrics = COsMetrics())
{
    return GetOsName(osvi, true, metrics);
}

}  // namespace

TEST(LoggerLine, NamesFileLineAndMessage)
{
    CLogCapture capture;
    LogMessage("C:\\src\\nulvane\\cleanup\\Deleter.cpp", 42, L"Failed to delete file %s", L"C:\\x.txt");
    EXPECT_EQ(OnlyLine(capture), L"Deleter.cpp:42 - Failed to delete file C:\\x.txt");
}

TEST(LoggerLine, TakesTheLastComponentOfEitherSeparator)
{
    CLogCapture capture;
    LOG_MESSAGE(L"via macro %d", 7);
    const CString line = OnlyLine(capture);
    EXPECT_EQ(line.Left(15), L"LoggerTest.cpp:");
    EXPECT_EQ(line.Right(14), L" - via macro 7");

    capture.Clear();
    LogMessage("plain.cpp", 1, L"x");
    EXPECT_EQ(OnlyLine(capture), L"plain.cpp:1 - x");
}

TEST(LoggerLine, NullSourcePathLeavesTheFileNameEmpty)
{
    CLogCapture capture;
    LogMessage(nullptr, 12, L"msg");
    EXPECT_EQ(OnlyLine(capture), L":12 - msg");
}

TEST(LoggerLine, MessageOf1023CharactersIsKeptWhole)
{
    CLogCapture capture;
    const CString text(L'a', 1023);
    LogMessage("f.cpp", 3, L"%s", text.GetString());
    EXPECT_EQ(OnlyLine(capture), L"f.cpp:3 - " + text);
}

TEST(LoggerLine, MessageOf1024CharactersIsDroppedNotCut)
{
    CLogCapture capture;
    const CString text(L'b', 1024);
    LogMessage("f.cpp", 3, L"%s", text.GetString());
    EXPECT_EQ(OnlyLine(capture), L"f.cpp:3 - ");

    capture.Clear();
    const CString half(L'c', 600);
    LogError("f.cpp", 4, 5, L"%s%s", half.GetString(), half.GetString());
    const CString line = OnlyLine(capture);
    EXPECT_EQ(line.Left(13), L"f.cpp:4 -  - ");
    EXPECT_EQ(line.Right(15), L" 0x00000005 (5)");
}

TEST(LoggerError, AppendsSystemTextWithoutLineEndThenTheCode)
{
    CLogCapture capture;
    LogError("d.cpp", 9, ERROR_ACCESS_DENIED, L"Failed to open file %s", L"a.txt");
    const CString line = OnlyLine(capture);
    const CString prefix = L"d.cpp:9 - Failed to open file a.txt - ";
    ASSERT_EQ(line.Left(prefix.GetLength()), prefix);
    EXPECT_EQ(line.Right(15), L" 0x00000005 (5)");
    const CString systemText = line.Mid(prefix.GetLength(), line.GetLength() - prefix.GetLength() - 15);
    EXPECT_FALSE(systemText.IsEmpty());
    EXPECT_EQ(systemText.FindOneOf(L"\r\n"), -1);
    EXPECT_NE(systemText, L"Unknown error code");
}

TEST(LoggerError, FormatsStatusValuesWithTheirLow16Bits)
{
    const CString overflow = FormatErrorText(0x80000005);
    EXPECT_EQ(overflow.Right(15), L" 0x80000005 (5)");
    const CString mismatch = FormatErrorText(0xC0000004);
    EXPECT_EQ(mismatch.Right(15), L" 0xC0000004 (4)");
    EXPECT_EQ(FormatErrorText(0xDEADBEEF), L"Unknown error code 0xDEADBEEF (48879)");
}

TEST(LoggerError, SystemTextIsCutAtItsFirstCarriageReturn)
{
    // The system's own text for the code, as the message table gives it.
    LPWSTR raw = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPWSTR>(&raw), 0, nullptr);
    CLocalMemory owner(raw);
    ASSERT_GT(n, 0u);
    CString expected(raw);
    ASSERT_NE(expected.Find(L'\r'), -1) << "the system text is expected to end with CR LF";
    expected = expected.Left(expected.Find(L'\r'));
    EXPECT_EQ(FormatErrorText(ERROR_FILE_NOT_FOUND), expected + L" 0x00000002 (2)");
}

TEST(LoggerException, AppendsTheExceptionTextOrNothing)
{
    CLogCapture capture;
    LogException("p.cpp", 5, CTextException(L"disk on fire"), L"Failed to cleanup %s", L"index.dat");
    EXPECT_EQ(OnlyLine(capture), L"p.cpp:5 - Failed to cleanup index.dat - disk on fire");

    capture.Clear();
    LogException("p.cpp", 6, CException(), L"no text");
    EXPECT_EQ(OnlyLine(capture), L"p.cpp:6 - no text - ");

    capture.Clear();
    LogException("p.cpp", 7, CThrowingException(), L"throws");
    EXPECT_EQ(OnlyLine(capture), L"p.cpp:7 - throws - ");

    capture.Clear();
    const CFileException fileError(CFileException::fileNotFound, ERROR_FILE_NOT_FOUND, L"C:\\gone.dat");
    LogException("p.cpp", 8, fileError, L"open");
    EXPECT_NE(OnlyLine(capture).Find(L"C:\\gone.dat"), -1);
}

TEST(LoggerException, AnOverlongExceptionTextIsCutToTheBuffer)
{
    CLogCapture capture;
    const CString huge(L'e', 3000);
    LogException("p.cpp", 1, CTextException(huge), L"m");
    EXPECT_EQ(OnlyLine(capture), L"p.cpp:1 - m - " + CString(L'e', 1023));
}

TEST(LoggerConcurrency, LinesFromManyThreadsArriveWhole)
{
    CLogCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                LogMessage("mt.cpp", t, L"thread %d line %d", t, i);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const std::vector<CString> lines = capture.Lines();
    ASSERT_EQ(lines.size(), 800u);
    for (int t = 0; t < 4; ++t) {
        int next = 0;
        for (const CString& line : lines) {
            CString prefix;
            prefix.Format(L"mt.cpp:%d - thread %d line ", t, t);
            if (line.Left(prefix.GetLength()) == prefix) {
                // Each thread's lines arrive in the order it wrote them.
                EXPECT_EQ(line, prefix + FormatString(L"%d", next));
                ++next;
            }
        }
        EXPECT_EQ(next, 200);
    }
}

TEST(LoggerOsName, NamesTheWindows9xFamily)
{
    EXPECT_EQ(OsName(Version(1, 4, 0)), L"Windows 95");
    EXPECT_EQ(OsName(Version(1, 4, 10)), L"Windows 98");
    EXPECT_EQ(OsName(Version(1, 4, 90)), L"Windows Me");
    EXPECT_EQ(OsName(Version(1, 4, 3)), L"Windows 4.3");
}

TEST(LoggerOsName, NamesNtAnd2000WithServicePack)
{
    EXPECT_EQ(OsName(Version(2, 4, 0, L"Service Pack 6")), L"Windows NT 4.0 Service Pack 6");
    EXPECT_EQ(OsName(Version(2, 3, 51, L"")), L"Windows NT 3.51 ");
    EXPECT_EQ(OsName(Version(2, 5, 0, L"Service Pack 4")), L"Windows 2000 Service Pack 4");
}

TEST(LoggerOsName, PicksTheFirstXpEditionThatHolds)
{
    COsMetrics metrics;
    metrics.nMediaCenter = 1;
    metrics.nTabletPc = 1;
    EXPECT_EQ(OsName(Version(2, 5, 1, L"Service Pack 3"), metrics), L"Windows XP Media Center Service Pack 3");
    metrics.nMediaCenter = 0;
    metrics.nStarter = 1;
    EXPECT_EQ(OsName(Version(2, 5, 1, L"SP2"), metrics), L"Windows XP Starter SP2");
    metrics.nStarter = 0;
    EXPECT_EQ(OsName(Version(2, 5, 1, L"SP2", VER_SUITE_PERSONAL), metrics), L"Windows XP Tablet PC SP2");
    EXPECT_EQ(OsName(Version(2, 5, 1, L"SP2", VER_SUITE_PERSONAL)), L"Windows XP Home SP2");
    EXPECT_EQ(OsName(Version(2, 5, 1, L"")), L"Windows XP Pro ");
}

TEST(LoggerOsName, NamesServer2003AndFallsBackForLater5x)
{
    COsMetrics r2;
    r2.nServerR2 = 1;
    EXPECT_EQ(OsName(Version(2, 5, 2, L"Service Pack 2"), r2), L"Windows Server 2003 R2 Service Pack 2");
    EXPECT_EQ(OsName(Version(2, 5, 2, L"Service Pack 2")), L"Windows Server 2003 Service Pack 2");
    EXPECT_EQ(OsName(Version(2, 5, 3, L"Service Pack 1")), L"Windows 5.3");
}

TEST(LoggerOsName, VistaAnd7NeverCarryTheServicePack)
{
    EXPECT_EQ(OsName(Version(2, 6, 1, L"Service Pack 1")), L"Windows 7 ");
    EXPECT_EQ(OsName(Version(2, 6, 0, L"Service Pack 2")), L"Windows Vista ");
    EXPECT_EQ(OsName(Version(2, 6, 0, L"", VER_SUITE_PERSONAL)), L"Windows Vista Home ");
    // The table names every other 6.x Vista.
    EXPECT_EQ(OsName(Version(2, 6, 2)), L"Windows Vista ");
    EXPECT_EQ(OsName(Version(2, 6, 3)), L"Windows Vista ");
}

TEST(LoggerOsName, LaterOrUnknownSystemsAreNamedByNumber)
{
    EXPECT_EQ(OsName(Version(2, 10, 0)), L"Windows 10.0");
    EXPECT_EQ(OsName(Version(2, 7, 0)), L"Windows 7.0");
    EXPECT_EQ(OsName(Version(3, 6, 1)), L"Windows 6.1");
    EXPECT_EQ(GetOsName(Version(2, 6, 1), false, COsMetrics()), L"");
}

TEST(LoggerSystemInfo, WritesOneHeaderLineFromTheLoggerSource)
{
    SetLogProgramVersion(L"1, 2, 3, 4", L"2026-12-06");
    CLogCapture capture;
    LogSystemInfo();
    const CString line = OnlyLine(capture);

    // The browser version straight from the registry, as an independent
    // reading.
    CString ieVersion;
    CRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer", 0, KEY_READ, key.put()) ==
        ERROR_SUCCESS) {
        wchar_t value[256] = {};
        DWORD cb = sizeof(value) - sizeof(wchar_t);
        if (RegQueryValueExW(key.get(), L"Version", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &cb) ==
            ERROR_SUCCESS) {
            ieVersion = value;
        }
    }
    OSVERSIONINFOEXW osvi = {};
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&osvi)));
    COsMetrics metrics;
    metrics.nTabletPc = GetSystemMetrics(SM_TABLETPC);
    metrics.nMediaCenter = GetSystemMetrics(SM_MEDIACENTER);
    metrics.nStarter = GetSystemMetrics(SM_STARTER);
    metrics.nServerR2 = GetSystemMetrics(SM_SERVERR2);

    const CString message = L"Nulvane Version 1, 2, 3, 4 (2026-12-06) - IE Version " + ieVersion + L" - " +
                            GetOsName(osvi, true, metrics);
    EXPECT_EQ(line.Left(11), L"Logger.cpp:");
    EXPECT_EQ(line.Mid(line.Find(L" - ") + 3), message);
    SetLogProgramVersion(L"", L"");
}
