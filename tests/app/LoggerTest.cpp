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

}  // namespace

TEST(LoggerLine, NamesTheSourceFileItsLineAndTheWholeMessageOrNone)
{
    CLogCapture capture;
    const CString k1023(L'a', 1023);
    const CString k1024(L'b', 1024);
    const struct {
        const char* pszFile;
        const CString strMessage;
        const CString strLine;
    } cases[] = {
        {"C:\\src\\nulvane\\cleanup\\Deleter.cpp", L"x", L"Deleter.cpp:3 - x"},
        {"src/app/Unix.cpp", L"x", L"Unix.cpp:3 - x"},
        {"plain.cpp", L"x", L"plain.cpp:3 - x"},
        {nullptr, L"msg", L":3 - msg"},
        // 1023 characters are kept whole; from 1024 on the message is
        // dropped, not cut.
        {"f.cpp", k1023, L"f.cpp:3 - " + k1023},
        {"f.cpp", k1024, L"f.cpp:3 - "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strLine.Left(40).ToUtf8());
        capture.Clear();
        LogMessage(c.pszFile, 3, L"%s", c.strMessage.GetString());
        EXPECT_EQ(OnlyLine(capture), c.strLine);
    }

    capture.Clear();
    LOG_MESSAGE(L"via macro %d", 7);
    const CString line = OnlyLine(capture);
    EXPECT_EQ(line.Left(15), L"LoggerTest.cpp:");
    EXPECT_EQ(line.Right(14), L" - via macro 7");

    // An error whose message is too long still carries its code.
    capture.Clear();
    const CString half(L'c', 600);
    LogError("f.cpp", 4, 5, L"%s%s", half.GetString(), half.GetString());
    const CString error = OnlyLine(capture);
    EXPECT_EQ(error.Left(13), L"f.cpp:4 -  - ");
    EXPECT_EQ(error.Right(15), L" 0x00000005 (5)");
}

TEST(LoggerError, AppendsTheSystemTextUpToItsLineEndThenTheCode)
{
    CLogCapture capture;
    LogError("d.cpp", 9, ERROR_FILE_NOT_FOUND, L"Failed to open file %s", L"a.txt");
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
    EXPECT_EQ(OnlyLine(capture), L"d.cpp:9 - Failed to open file a.txt - " + expected + L" 0x00000002 (2)");

    // Status values show their low 16 bits; unknown codes say so.
    EXPECT_EQ(FormatErrorText(0x80000005).Right(15), L" 0x80000005 (5)");
    EXPECT_EQ(FormatErrorText(0xC0000004).Right(15), L" 0xC0000004 (4)");
    EXPECT_EQ(FormatErrorText(0xDEADBEEF), L"Unknown error code 0xDEADBEEF (48879)");
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

    // An overlong text is cut to the buffer.
    capture.Clear();
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

TEST(LoggerOsName, NamesEachSystemWithItsEditionAndServicePack)
{
    COsMetrics none;
    COsMetrics mediaCenter;
    mediaCenter.nMediaCenter = mediaCenter.nTabletPc = 1;
    COsMetrics starter;
    starter.nStarter = 1;
    COsMetrics tablet;
    tablet.nTabletPc = 1;
    COsMetrics r2;
    r2.nServerR2 = 1;
    const WORD home = VER_SUITE_PERSONAL;
    const struct {
        OSVERSIONINFOEXW osvi;
        const COsMetrics& metrics;
        const wchar_t* pszName;
    } cases[] = {
        {Version(1, 4, 0), none, L"Windows 95"},
        {Version(1, 4, 3), none, L"Windows 4.3"},
        {Version(2, 4, 0, L"Service Pack 6"), none, L"Windows NT 4.0 Service Pack 6"},
        {Version(2, 3, 51, L""), none, L"Windows NT 3.51 "},
        // The first XP edition that holds wins.
        {Version(2, 5, 1, L"Service Pack 3"), mediaCenter, L"Windows XP Media Center Service Pack 3"},
        {Version(2, 5, 1, L"SP2"), starter, L"Windows XP Starter SP2"},
        {Version(2, 5, 1, L"SP2", home), tablet, L"Windows XP Tablet PC SP2"},
        {Version(2, 5, 1, L"SP2", home), none, L"Windows XP Home SP2"},
        {Version(2, 5, 1, L""), none, L"Windows XP Pro "},
        {Version(2, 5, 2, L"Service Pack 2"), r2, L"Windows Server 2003 R2 Service Pack 2"},
        {Version(2, 5, 2, L"Service Pack 2"), none, L"Windows Server 2003 Service Pack 2"},
        {Version(2, 5, 3, L"Service Pack 1"), none, L"Windows 5.3"},
        // Vista and 7 never carry the service pack; every other 6.x is Vista.
        {Version(2, 6, 1, L"Service Pack 1"), none, L"Windows 7 "},
        {Version(2, 6, 0, L"Service Pack 2"), none, L"Windows Vista "},
        {Version(2, 6, 0, L"", home), none, L"Windows Vista Home "},
        {Version(2, 6, 3), none, L"Windows Vista "},
        {Version(2, 10, 0), none, L"Windows 10.0"},
        {Version(3, 6, 1), none, L"Windows 6.1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetOsName(c.osvi, true, c.metrics), c.pszName);
    }
    EXPECT_EQ(GetOsName(Version(2, 6, 1), false, none), L"");
}

TEST(LoggerSystemInfo, WritesOneHeaderLineFromTheLoggerSource)
{
    SetLogProgramVersion(L"1, 2, 3, 4", L"2026-12-06");
    CLogCapture capture;
    LogSystemInfo();
    const CString line = OnlyLine(capture);

    // The browser version straight from the registry, as an independent
    // reading, then the system's name.
    wchar_t szIe[256] = L"";
    DWORD cb = sizeof(szIe);
    RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer", L"Version", RRF_RT_REG_SZ, nullptr,
                 szIe, &cb);
    const CString message = L"Nulvane Version 1, 2, 3, 4 (2026-12-06) - IE Version " + CString(szIe) + L" - Windows ";
    EXPECT_EQ(line.Left(11), L"Logger.cpp:");
    EXPECT_EQ(line.Mid(line.Find(L" - ") + 3).Left(message.GetLength()), message);
    SetLogProgramVersion(L"", L"");
}
