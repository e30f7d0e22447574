#include "framework/Logger.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"

namespace {

// An exception with a text, or one that throws when asked for it (null).
class CTextException : public CException {
public:
    explicit CTextException(const wchar_t* pszText) : m_pszText(pszText) {}
    BOOL GetErrorMessage(LPWSTR psz, UINT nMax, PUINT) const override
    {
        return m_pszText != nullptr ? CopyMessage(m_pszText, psz, nMax) : throw std::runtime_error("no text");
    }

private:
    const wchar_t* m_pszText;
};

}  // namespace

TEST(Logger, EachLineNamesTheSourceFileItsLineTheWholeMessageOrNoneAndItsDetail)
{
    const CString k1023(L'a', 1023);
    const CString k1024(L'b', 1024);
    // The system's own text for the code, up to its line end.
    CString notFound = FormatErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(notFound.Find(L'\r'), -1);
    const struct {
        std::function<void()> log;
        CString strLine;
    } cases[] = {
        {[] { LogMessage("C:\\src\\cleanup\\Deleter.cpp", 3, L"x"); }, L"Deleter.cpp:3 - x"},
        {[] { LogMessage("src/app/Unix.cpp", 3, L"%d", 5); }, L"Unix.cpp:3 - 5"},
        {[] { LogMessage(nullptr, 3, L"msg"); }, L":3 - msg"},
        // 1023 characters are kept; 1024 drop the message, not an error's code.
        {[&] { LogMessage("f.cpp", 3, L"%s", k1023.GetString()); }, L"f.cpp:3 - " + k1023},
        {[&] { LogMessage("f.cpp", 3, L"%s", k1024.GetString()); }, L"f.cpp:3 - "},
        {[&] { LogError("f.cpp", 4, 0xDEADBEEF, L"%s", k1024.GetString()); },
         L"f.cpp:4 -  - Unknown error code 0xDEADBEEF (48879)"},
        {[] { LogError("d.cpp", 9, ERROR_FILE_NOT_FOUND, L"open %s", L"a.txt"); },
         L"d.cpp:9 - open a.txt - " + notFound},
        {[] { LogException("p.cpp", 6, CException(), L"no text"); }, L"p.cpp:6 - no text - "},
        {[] { LogException("p.cpp", 5, CTextException(L"disk on fire"), L"wipe %s", L"x"); },
         L"p.cpp:5 - wipe x - disk on fire"},
        {[] { LogException("p.cpp", 7, CTextException(nullptr), L"throws"); }, L"p.cpp:7 - throws - "},
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
    // Tablet PC, Media Center, Starter, Server R2.
    const COsMetrics none, mediaCenter{1, 1}, starter{0, 0, 1}, r2{0, 0, 0, 1};
    const struct {
        OSVERSIONINFOEXW osvi;  // size, major, minor, build, platform, service pack, ..., suite
        COsMetrics metrics;
        const wchar_t* pszName;
    } cases[] = {
        {{0, 4, 0, 0, 1}, none, L"Windows 95"},
        {{0, 4, 0, 0, 2, L"Service Pack 6"}, none, L"Windows NT 4.0 Service Pack 6"},
        // The first XP edition that holds wins.
        {{0, 5, 1, 0, 2, L"Service Pack 3"}, mediaCenter, L"Windows XP Media Center Service Pack 3"},
        {{0, 5, 1, 0, 2, L"SP2"}, starter, L"Windows XP Starter SP2"},
        {{0, 5, 1, 0, 2, L"SP2", 0, 0, VER_SUITE_PERSONAL}, none, L"Windows XP Home SP2"},
        {{0, 5, 1, 0, 2, L""}, none, L"Windows XP Pro "},
        {{0, 5, 2, 0, 2, L"Service Pack 2"}, r2, L"Windows Server 2003 R2 Service Pack 2"},
        {{0, 5, 3, 0, 2, L"Service Pack 1"}, none, L"Windows 5.3"},
        // Vista and 7 never carry the service pack; every other 6.x is Vista.
        {{0, 6, 1, 0, 2, L"Service Pack 1"}, none, L"Windows 7 "},
        {{0, 6, 0, 0, 2, L"", 0, 0, VER_SUITE_PERSONAL}, none, L"Windows Vista Home "},
        {{0, 6, 3, 0, 2}, none, L"Windows Vista "},
        {{0, 6, 1, 0, 3}, none, L"Windows 6.1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetOsName(c.osvi, true, c.metrics), c.pszName);
    }
    EXPECT_EQ(GetOsName({0, 6, 1, 0, 2}, false, none), L"");
}
