#include "app/Logger.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"

namespace {

// An exception whose message the logger must copy as it is, or one that
// throws when asked (null text).
class CTextException : public CException {
public:
    explicit CTextException(const wchar_t* pszText) : m_pszText(pszText) {}
    BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT) const override
    {
        if (m_pszText == nullptr) {
            throw std::runtime_error("no text");
        }
        return CopyMessage(m_pszText, lpszError, nMaxError);
    }

private:
    const wchar_t* m_pszText;
};

OSVERSIONINFOEXW Version(DWORD platform, DWORD major, DWORD minor, const wchar_t* servicePack = L"",
                         WORD suiteMask = 0)
{
    OSVERSIONINFOEXW osvi = {};
    osvi.dwPlatformId = platform;
    osvi.dwMajorVersion = major;
    osvi.dwMinorVersion = minor;
    wcsncpy(osvi.szCSDVersion, servicePack, 127);
    osvi.wSuiteMask = suiteMask;
    return osvi;
}

}  // namespace

TEST(Logger, EachLineNamesTheSourceFileItsLineTheWholeMessageOrNoneAndItsDetail)
{
    const CString k1023(L'a', 1023);
    const CString k1024(L'b', 1024);
    const CString huge(L'e', 3000);
    // The system's own text for the code, up to its line end.
    CString notFound = FormatErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_GT(notFound.GetLength(), 20) << notFound.ToUtf8();
    EXPECT_EQ(notFound.Find(L'\r'), -1);
    const struct {
        std::function<void()> log;
        CString strLine;
    } cases[] = {
        {[] { LogMessage("C:\\src\\cleanup\\Deleter.cpp", 3, L"x"); }, L"Deleter.cpp:3 - x"},
        {[] { LogMessage("src/app/Unix.cpp", 3, L"%d", 5); }, L"Unix.cpp:3 - 5"},
        {[] { LogMessage(nullptr, 3, L"msg"); }, L":3 - msg"},
        // 1023 characters are kept whole; from 1024 on the message is
        // dropped, not cut, and an error still carries its code.
        {[&] { LogMessage("f.cpp", 3, L"%s", k1023.GetString()); }, L"f.cpp:3 - " + k1023},
        {[&] { LogMessage("f.cpp", 3, L"%s", k1024.GetString()); }, L"f.cpp:3 - "},
        {[&] { LogError("f.cpp", 4, 0xDEADBEEF, L"%s", k1024.GetString()); },
         L"f.cpp:4 -  - Unknown error code 0xDEADBEEF (48879)"},
        {[] { LogError("d.cpp", 9, ERROR_FILE_NOT_FOUND, L"open %s", L"a.txt"); },
         L"d.cpp:9 - open a.txt - " + notFound},
        {[] { LogException("p.cpp", 5, CTextException(L"disk on fire"), L"wipe %s", L"x"); },
         L"p.cpp:5 - wipe x - disk on fire"},
        {[] { LogException("p.cpp", 6, CException(), L"no text"); }, L"p.cpp:6 - no text - "},
        {[] { LogException("p.cpp", 7, CTextException(nullptr), L"throws"); }, L"p.cpp:7 - throws - "},
        // An overlong text is cut to the buffer.
        {[&] { LogException("p.cpp", 1, CTextException(huge), L"m"); }, L"p.cpp:1 - m - " + CString(L'e', 1023)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strLine.Left(40).ToUtf8());
        CLogCapture capture;
        c.log();
        EXPECT_EQ(capture.Lines(), std::vector<CString>{c.strLine});
    }
    EXPECT_EQ(notFound.Right(15), L" 0x00000002 (2)");
    // Status values show their low 16 bits.
    EXPECT_EQ(FormatErrorText(0xC0000004).Right(15), L" 0xC0000004 (4)");
}

TEST(Logger, NamesEachSystemWithItsEditionAndServicePack)
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
        {Version(2, 6, 0, L"", home), none, L"Windows Vista Home "},
        {Version(2, 6, 3), none, L"Windows Vista "},
        {Version(2, 10, 0), none, L"Windows 10.0"},
        {Version(3, 6, 1), none, L"Windows 6.1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetOsName(c.osvi, true, c.metrics), c.pszName);
    }
    EXPECT_EQ(GetOsName(Version(2, 6, 1), false, none), L"");

    // The header line: the program's version, the browser's straight from
    // the registry, as an independent reading, then the system's name.
    SetLogProgramVersion(L"1, 2, 3, 4", L"2026-12-06");
    CLogCapture capture;
    LogSystemInfo();
    SetLogProgramVersion(L"", L"");
    wchar_t szIe[256] = L"";
    DWORD cb = sizeof(szIe);
    RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer", L"Version", RRF_RT_REG_SZ, nullptr,
                 szIe, &cb);
    const CString message = L"Nulvane Version 1, 2, 3, 4 (2026-12-06) - IE Version " + CString(szIe) + L" - Windows ";
    ASSERT_EQ(capture.Messages().size(), 1u);
    EXPECT_EQ(capture.Messages()[0].Left(message.GetLength()), message);
}
