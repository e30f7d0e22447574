#include "shell/DefaultBrowser.h"

#include <lmcons.h>
#include <shlobj.h>

#include <optional>
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
    union {
        wchar_t szText[1024];
        DWORD dwNumber;
    } value;
    DWORD cb = sizeof(value);
    DWORD dwType = 0;
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

// What a shortcut file points at, as the shell reads it.
CString LinkTarget(const CString& strLink)
{
    CComInitializer com;
    CComPtr<IShellLinkW> link;
    CComPtr<IPersistFile> file;
    wchar_t szPath[MAX_PATH] = L"";
    if (FAILED(link.CoCreateInstance(CLSID_ShellLink)) || FAILED(link.QueryInterface(file)) ||
        FAILED(file->Load(strLink, STGM_READ)) || FAILED(link->GetPath(szPath, MAX_PATH, nullptr, SLGP_RAWPATH))) {
        return L"<no shortcut>";
    }
    return szPath;
}

// Every value the registration writes, on one branch, read back.
void ExpectRegistered(bool bVista, const CString& strProgram, const CString& strDocType, const CString& strClient)
{
    auto expect = [](HKEY hRoot, const CString& strKey, const wchar_t* pszName, const CString& strData) {
        EXPECT_EQ(RegValue(hRoot, strKey, pszName), strData) << strKey.ToUtf8() << " : " << CString(pszName).ToUtf8();
    };
    const CString strDoc = kClasses + strDocType;
    const CString strOpen = L"\"" + strProgram + L"\" \"%1\"";
    const CString strClientKey = kClients + L"\\" + strClient;
    const CString strCaps = strClientKey + L"\\Capabilities";
    const HKEY hDocRoot = bVista ? kMachine : kUser;
    const CString strNoCaps = L"<missing>";
    expect(hDocRoot, strDoc, nullptr, L"Nulvane HTML Document");
    expect(hDocRoot, strDoc, L"URL Protocol", L"");
    expect(hDocRoot, strDoc + L"\\DefaultIcon", nullptr, strProgram + L",0");
    expect(hDocRoot, strDoc + L"\\shell\\open\\command", nullptr, strOpen);
    expect(kMachine, strClientKey, L"LocalizedString", L"Nulvane");
    expect(kMachine, strClientKey + L"\\DefaultIcon", nullptr, strProgram + L",0");
    expect(kMachine, strClientKey + L"\\shell\\open\\command", nullptr, L"\"" + strProgram + L"\"");
    expect(kMachine, strCaps, L"ApplicationDescription", bVista ? L"Nulvane" : strNoCaps);
    expect(kMachine, strCaps, L"Hidden", bVista ? L"#1" : strNoCaps);
    expect(kMachine, strCaps + L"\\StartMenu", L"StartmenuInternet", bVista ? strClient : strNoCaps);
    expect(kMachine, L"SOFTWARE\\RegisteredApplications", strClient, bVista ? strCaps : strNoCaps);
    expect(kUser, kClients, nullptr, strClient);
    for (const wchar_t* pszProtocol : {L"http", L"https"}) {
        expect(kMachine, strCaps + L"\\UrlAssociations", pszProtocol, bVista ? strDocType : strNoCaps);
        expect(kUser, kClasses + pszProtocol + L"\\shell\\open\\command", nullptr, strOpen);
        expect(kUser, kClasses + pszProtocol + L"\\shell\\open\\ddeexec", nullptr, L"");
    }
    for (const wchar_t* pszExtension : kExtensions) {
        expect(kMachine, strCaps + L"\\FileAssociations", pszExtension, bVista ? strDocType : strNoCaps);
        expect(kUser, kClasses + pszExtension, nullptr, strDocType);
    }
}

// The clock, the user's answer and the administrator check in the test's
// hands.
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
        for (const wchar_t* pszKey : {L"NulvaneHTML", L"http", L"https"}) {
            RegDeleteTreeW(kUser, kClasses + pszKey);
        }
        for (const wchar_t* pszExtension : kExtensions) {
            RegDeleteTreeW(kUser, kClasses + pszExtension);
        }
        RegDeleteTreeW(kUser, kClients);
        for (const CString& strUser : {CString(L"alice"), CString(L"bob"), CString(L"carol"), LogonName()}) {
            RegDeleteTreeW(kMachine, kClients + L"\\Nulvane." + strUser);
            RegDeleteKeyValueW(kMachine, L"SOFTWARE\\RegisteredApplications", L"Nulvane." + strUser);
            RegDeleteTreeW(kMachine, kClasses + L"NulvaneHTML." + strUser);
        }
        RegDeleteTreeW(kMachine, kClasses + L"NulvaneHTML");
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

TEST_F(DefaultBrowser, MakeDefaultInTheRealQuestionBoxRegistersEveryKeyBesideOtherUsers)
{
    CTestBrowser alice(m_strProgram, L"alice");
    ASSERT_TRUE(alice.IsVistaOrLater());
    alice.m_nAnswer = 0;
    CMessageBoxAnswerer answerer(L"Nulvane", IDYES);
    EXPECT_TRUE(alice.SetAsDefault(TRUE));
    const CMessageBoxAnswerer::CSeen& seen = answerer.Seen();
    ASSERT_TRUE(seen.bFound);
    EXPECT_EQ(seen.buttons.at(IDYES).strText, L"Make Default");
    EXPECT_EQ(seen.buttons.at(IDNO).strText, L"Not Now");
    EXPECT_TRUE(seen.bForeground);

    ExpectRegistered(true, m_strProgram, L"NulvaneHTML.alice", L"Nulvane.alice");
    EXPECT_EQ(RegValue(kUser, kClasses + L"NulvaneHTML.alice"), L"<missing>");
    EXPECT_EQ(LinkTarget(kQuickLaunchLink), m_strProgram);
    // Wine cannot tell the default: the check says no.
    EXPECT_FALSE(alice.IsDefault());

    CTestBrowser bob(m_strProgram, L"bob");
    bob.m_nAnswer = IDYES;
    EXPECT_TRUE(bob.SetAsDefault(TRUE));
    ExpectRegistered(true, m_strProgram, L"NulvaneHTML.bob", L"Nulvane.bob");
    EXPECT_EQ(RegValue(kMachine, kClients + L"\\Nulvane.alice", L"LocalizedString"), L"Nulvane");
    EXPECT_EQ(RegValue(kMachine, kClasses + L"NulvaneHTML.alice"), L"Nulvane HTML Document");
}

TEST_F(DefaultBrowser, WithoutAdministratorRightsAnElevatedCopyRegistersMachineWide)
{
    // An elevation that cannot start leaves the per-user keys alone.
    CTestBrowser refused(m_strProgram + L".missing.exe", LogonName());
    refused.m_bAdmin = false;
    refused.m_nAnswer = IDYES;
    EXPECT_FALSE(refused.SetAsDefault(TRUE));
    EXPECT_EQ(RegValue(kUser, kClasses + L".htm"), L"<missing>");
    EXPECT_EQ(RegValue(kUser, kClients), L"<missing>");

    // Started with "--register", the helper registers its own path as the
    // program's elevated copy does.
    CTestBrowser browser(m_strProgram, LogonName());
    browser.m_bAdmin = false;
    browser.m_nAnswer = IDYES;
    EXPECT_TRUE(browser.SetAsDefault(TRUE));
    ExpectRegistered(true, m_strProgram, L"NulvaneHTML." + LogonName(), L"Nulvane." + LogonName());
}

TEST_F(DefaultBrowser, BeforeVistaTheDocumentTypeIsPerUserAndTheClientHasNoCapabilities)
{
    // A copy of the helper under its own name, which Wine runs as Windows XP.
    CTempFolder folder;
    const CString strImage = folder / L"nulvane_xp_helper.exe";
    ASSERT_TRUE(CopyFileW(m_strProgram, strImage, FALSE));
    const CString strAppDefaults = L"Software\\Wine\\AppDefaults\\nulvane_xp_helper.exe";
    RegSetKeyValueW(kUser, strAppDefaults, L"Version", REG_SZ, L"winxp64", sizeof(L"winxp64"));
    CHelperProcess helper;
    const bool bStarted =
        helper.StartImage(strImage, L"set-as-default \"" + (folder / L"out.txt") + L"\" \"" + strImage + L"\" carol");
    const int nExit = helper.Stop();
    RegDeleteTreeW(kUser, strAppDefaults);
    ASSERT_TRUE(bStarted);
    ASSERT_EQ(nExit, 0);

    EXPECT_EQ(ReadTestFile(folder / L"out.txt"), "vista=0 before=0 result=1 after=1");
    ExpectRegistered(false, strImage, L"NulvaneHTML", L"Nulvane.carol");
    EXPECT_EQ(RegValue(kMachine, kClasses + L"NulvaneHTML"), L"<missing>");
    EXPECT_EQ(LinkTarget(kQuickLaunchLink), strImage);
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
        EXPECT_EQ(LinkTarget(kDesktopLink), strTarget) << strProgram.ToUtf8();
        DeleteFileW(kDesktopLink);
    }
}
