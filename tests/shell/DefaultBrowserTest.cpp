#include "shell/DefaultBrowser.h"

#include <lmcons.h>
#include <shlobj.h>

#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/HelperProcess.h"
#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

const wchar_t* const kExtensions[] = {L".htm", L".html", L".shtml", L".xht", L".xhtml"};
const CString kClients = L"SOFTWARE\\Clients\\StartMenuInternet";
const CString kClasses = L"SOFTWARE\\Classes\\";
const HKEY kUser = HKEY_CURRENT_USER;
const HKEY kMachine = HKEY_LOCAL_MACHINE;

// Noon UTC on the 15th: the same month in every time zone.
CTime MidMonth(int nYear, int nMonth)
{
    SYSTEMTIME st = {static_cast<WORD>(nYear), static_cast<WORD>(nMonth), 0, 15, 12};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return CTime::FromFileTime(ft);
}

// A value as the platform reads it back: the text, "#n" for a number.
CString RegValue(HKEY hRoot, const CString& strKey, const wchar_t* pszName = nullptr)
{
    union { wchar_t szText[1024]; DWORD dwNumber; } value;
    DWORD cb = sizeof(value), dwType = 0;
    if (RegGetValueW(hRoot, strKey, pszName, RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &dwType, &value, &cb) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return dwType == REG_DWORD ? FormatString(L"#%lu", value.dwNumber) : CString(value.szText);
}

CString LogonName()
{
    wchar_t szName[UNLEN + 1];
    DWORD cch = ARRAYSIZE(szName);
    return GetUserNameW(szName, &cch) ? szName : L"";
}

CString SpecialFolder(int nFolder, const wchar_t* pszRest = L"")
{
    wchar_t szPath[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, nFolder, nullptr, SHGFP_TYPE_CURRENT, szPath);
    return szPath + CString(pszRest);
}

const CString kDesktopLink = SpecialFolder(CSIDL_DESKTOPDIRECTORY, L"\\Nulvane.lnk");
const CString kQuickLaunchLink =
    SpecialFolder(CSIDL_APPDATA, L"\\Microsoft\\Internet Explorer\\Quick Launch\\Nulvane.lnk");

// strTarget when the shortcut's location information holds it; else why not.
CString LinkTarget(const CString& strLink, const CString& strTarget)
{
    if (!TestFileExists(strLink)) {
        return L"<no shortcut>";
    }
    return ReadTestFile(strLink).find(strTarget.ToAnsi()) != std::string::npos ? strTarget : L"<elsewhere>";
}

// Every value the registration writes, read back.
void ExpectRegistered(const CString& strProgram, const CString& strDocType, const CString& strClient)
{
    const CString strDoc = kClasses + strDocType, strOpen = L"\"" + strProgram + L"\" \"%1\"";
    const CString strIcon = strProgram + L",0", strClientKey = kClients + L"\\" + strClient;
    const CString strCaps = strClientKey + L"\\Capabilities";
    std::vector<std::tuple<HKEY, CString, const wchar_t*, CString>> values = {
        {kMachine, strDoc, nullptr, L"Nulvane HTML Document"}, {kMachine, strDoc, L"URL Protocol", L""},
        {kMachine, strDoc + L"\\DefaultIcon", nullptr, strIcon},
        {kMachine, strDoc + L"\\shell\\open\\command", nullptr, strOpen},
        {kMachine, strClientKey, L"LocalizedString", L"Nulvane"},
        {kMachine, strClientKey + L"\\DefaultIcon", nullptr, strIcon},
        {kMachine, strClientKey + L"\\shell\\open\\command", nullptr, L"\"" + strProgram + L"\""},
        {kMachine, strCaps, L"ApplicationDescription", L"Nulvane"}, {kMachine, strCaps, L"Hidden", L"#1"},
        {kMachine, strCaps + L"\\StartMenu", L"StartmenuInternet", strClient},
        {kMachine, L"SOFTWARE\\RegisteredApplications", strClient, strCaps}, {kUser, kClients, nullptr, strClient},
        {kUser, strDoc, nullptr, L"<missing>"}};
    for (const wchar_t* pszProtocol : {L"http", L"https"}) {
        values.push_back({kMachine, strCaps + L"\\UrlAssociations", pszProtocol, strDocType});
        values.push_back({kUser, kClasses + pszProtocol + L"\\shell\\open\\command", nullptr, strOpen});
        values.push_back({kUser, kClasses + pszProtocol + L"\\shell\\open\\ddeexec", nullptr, L""});
    }
    for (const wchar_t* pszExtension : kExtensions) {
        values.push_back({kMachine, strCaps + L"\\FileAssociations", pszExtension, strDocType});
        values.push_back({kUser, kClasses + pszExtension, nullptr, strDocType});
    }
    for (const auto& [hRoot, strKey, pszName, strData] : values) {
        EXPECT_EQ(RegValue(hRoot, strKey, pszName), strData) << strKey.ToUtf8() << " : " << CString(pszName).ToUtf8();
    }
}

// The clock, the user's answer and the administrator check in the test's hands.
class CTestBrowser : public CDefaultBrowser {
public:
    using CDefaultBrowser::CDefaultBrowser;

    CTime m_now = MidMonth(2024, 5);
    int m_nAnswer = IDNO;  // 0: the real question box
    int m_nAsked = 0;
    std::optional<bool> m_bAdmin;

protected:
    CTime Now() const override { return m_now; }
    int AskUser(const CString& strText, const CString& strCaption, const CString& strYes, const CString& strNo) override
    {
        ++m_nAsked;
        return m_nAnswer != 0 ? m_nAnswer : CDefaultBrowser::AskUser(strText, strCaption, strYes, strNo);
    }
    bool IsUserAdmin() const override { return m_bAdmin.value_or(CDefaultBrowser::IsUserAdmin()); }
};

class DefaultBrowser : public testing::Test {
protected:
    void SetUp() override
    {
        // Wine links a new prefix's desktop to the Linux home folder;
        // cmake/wine-run.sh gives the test prefix a desktop of its own.
        ASSERT_EQ(GetFileAttributesW(SpecialFolder(CSIDL_DESKTOPDIRECTORY)) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        RemoveRegistration();
    }
    void TearDown() override { RemoveRegistration(); }

    static void RemoveRegistration()
    {
        for (const wchar_t* pszValue : {L"FirstRun", L"RI", L"LastDefaultCheck", L"CreatedShortcut"}) {
            RegDeleteKeyValueW(kUser, CDefaultBrowser::kSettingsKey, pszValue);
        }
        for (const wchar_t* pszKey : {L"http", L"https", L".htm", L".html", L".shtml", L".xht", L".xhtml"}) {
            RegDeleteTreeW(kUser, kClasses + pszKey);
        }
        RegDeleteTreeW(kUser, kClients);
        for (const CString& strUser : {CString(L"alice"), LogonName()}) {
            RegDeleteTreeW(kMachine, kClients + L"\\Nulvane." + strUser);
            RegDeleteKeyValueW(kMachine, L"SOFTWARE\\RegisteredApplications", L"Nulvane." + strUser);
            RegDeleteTreeW(kMachine, kClasses + L"NulvaneHTML." + strUser);
        }
        DeleteFileW(kDesktopLink);
        DeleteFileW(kQuickLaunchLink);
    }

    const CString m_strProgram = CHelperProcess::Path();
};

}  // namespace

TEST_F(DefaultBrowser, AsksNeverOnTheFirstRunAlwaysOnTheThirdAndOtherwiseOncePerCalendarMonth)
{
    // Each start and whether it asks; the answer is No. A clock that ran a
    // year ahead left a later month behind: the earlier month asks again.
    const std::pair<CTime, int> starts[] = {
        {MidMonth(2024, 5), 0}, {MidMonth(2024, 5), 0}, {MidMonth(2024, 5), 1}, {MidMonth(2024, 5), 0},
        {MidMonth(2025, 5), 1}, {MidMonth(2025, 6), 1}, {MidMonth(2024, 1), 1}, {MidMonth(2024, 1), 0}};
    for (const auto& [now, nAsked] : starts) {
        CTestBrowser browser(m_strProgram, L"alice");
        browser.m_now = now;
        EXPECT_FALSE(browser.RunStartupCheck());
        EXPECT_EQ(browser.m_nAsked, nAsked) << now.GetTime();
    }
    // No registers nothing.
    EXPECT_EQ(RegValue(kMachine, kClients + L"\\Nulvane.alice", L"LocalizedString"), L"<missing>");
    EXPECT_EQ(RegValue(kUser, kClasses + L".htm"), L"<missing>");
    EXPECT_FALSE(TestFileExists(kQuickLaunchLink));
}

TEST_F(DefaultBrowser, MakeDefaultRegistersEveryKeyBesideOtherUsersAndWithoutRightsThroughAnElevatedCopy)
{
    // An elevation that cannot start leaves the per-user keys alone.
    CTestBrowser refused(m_strProgram + L".missing.exe", LogonName());
    refused.m_bAdmin = false;
    refused.m_nAnswer = IDYES;
    EXPECT_FALSE(refused.SetAsDefault(TRUE));
    EXPECT_EQ(RegValue(kUser, kClasses + L".htm"), L"<missing>");
    EXPECT_EQ(RegValue(kUser, kClients), L"<missing>");

    // Another user's registration, answered in the real question box.
    CTestBrowser alice(m_strProgram, L"alice");
    ASSERT_TRUE(alice.IsVistaOrLater());
    alice.m_nAnswer = 0;
    CMessageBoxAnswerer answerer(L"Nulvane", IDYES);
    EXPECT_TRUE(alice.SetAsDefault(TRUE));
    EXPECT_TRUE(answerer.Seen().bFound);
    EXPECT_EQ(LinkTarget(kQuickLaunchLink, m_strProgram), m_strProgram);

    // Started with "--register", the helper registers its own path as the
    // program's elevated copy does; the other user's keys stay.
    CTestBrowser browser(m_strProgram, LogonName());
    browser.m_bAdmin = false;
    browser.m_nAnswer = IDYES;
    EXPECT_TRUE(browser.SetAsDefault(TRUE));
    ExpectRegistered(m_strProgram, L"NulvaneHTML." + LogonName(), L"Nulvane." + LogonName());
    EXPECT_EQ(RegValue(kMachine, kClients + L"\\Nulvane.alice", L"LocalizedString"), L"Nulvane");
    EXPECT_EQ(RegValue(kMachine, kClasses + L"NulvaneHTML.alice"), L"Nulvane HTML Document");
}

TEST_F(DefaultBrowser, MakesTheDesktopShortcutOnceAndNoneForAProgramRunFromTheDesktop)
{
    // The desktop folder spelled another way: other case, "." and "..".
    const CString strDesktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
    const int nSlash = strDesktop.ReverseFind(L'\\');
    CString strSpelled = strDesktop.Left(nSlash) + L"\\none\\..\\.\\" + strDesktop.Mid(nSlash + 1);
    // Offered once: the shortcut the user deleted stays deleted.
    const std::pair<CString, CString> starts[] = {{strSpelled.MakeUpper() + L"\\Nulvane.exe", L"<no shortcut>"},
                                                  {m_strProgram, m_strProgram},
                                                  {m_strProgram, L"<no shortcut>"}};
    for (const auto& [strProgram, strTarget] : starts) {
        CTestBrowser browser(strProgram, L"alice");
        EXPECT_FALSE(browser.RunStartupCheck());
        EXPECT_EQ(LinkTarget(kDesktopLink, m_strProgram), strTarget) << strProgram.ToUtf8();
        DeleteFileW(kDesktopLink);
    }
}
