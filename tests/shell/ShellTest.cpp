#include <lmcons.h>
#include <shlobj.h>
#include <exdispid.h>
#include <ocidl.h>
#include <urlmon.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "framework/ComPtr.h"
#include "framework/Handles.h"
#include "framework/View.h"
#include "resources/Resource.h"
#include "shell/AutomationObject.h"
#include "shell/BrowserEvents.h"
#include "shell/BrowserSite.h"
#include "shell/DefaultBrowser.h"
#include "shell/FrameUrlMessage.h"
#include "shell/MSDIThread.h"
#include "shell/MSDIThreadManager.h"
#include "shell/MainFrame.h"
#include "shell/NewWindowHandOff.h"
#include "shell/QuelmarSMDIDoc.h"
#include "shell/QuelmarSMDIView.h"
#include "shell/SecurityFeatures.h"
#include "shell/ShellMessages.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowThreadCall.h"

namespace {

const wchar_t* const kExtensions[] = {L".htm", L".html", L".shtml", L".xht", L".xhtml"};
const CString kClients = L"SOFTWARE\\Clients\\StartMenuInternet";
const CString kClasses = L"SOFTWARE\\Classes\\";
const HKEY kUser = HKEY_CURRENT_USER;
const HKEY kMachine = HKEY_LOCAL_MACHINE;

// Noon UTC on the 15th: the same month in every time zone.
CTime MidMonth(int nYear, int nMonth)
{
    struct tm t = {0, 0, 12, 15, nMonth - 1, nYear - 1900};
    return CTime(_mkgmtime64(&t));
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
    const bool bHolds = TestFileExists(strLink) && ReadTestFile(strLink).find(strTarget.ToAnsi()) != std::string::npos;
    return bHolds ? strTarget : CString(TestFileExists(strLink) ? L"<elsewhere>" : L"<no shortcut>");
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

public:
    void ActAsBeforeVista() { m_bVistaOrLater = false; }
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
        RegDeleteTreeW(kUser, CDefaultBrowser::kSettingsKey);
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

IDispatch* const kSomeDispatch = reinterpret_cast<IDispatch*>(0x1000);

// Records each event with its text, and answers Cancel and every new window.
class CRecorder : public CBrowserEvents {
public:
    std::vector<CString> calls;

    void OnBeforeNavigate2(IDispatch*, const CString& s, bool& bCancel) override { Answer(L"before " + s, bCancel); }
    void OnNavigateComplete2(IDispatch*, const CString& s) override { calls.push_back(L"complete " + s); }
    void OnDocumentComplete(IDispatch*, const CString& s) override { calls.push_back(L"document " + s); }
    void OnTitleChange(const CString& s) override { calls.push_back(L"title " + s); }
    void OnStatusTextChange(const CString& s) override { calls.push_back(L"status " + s); }
    void OnCommandStateChange(long n, bool b) override { calls.push_back(FormatString(L"command %ld %d", n, b)); }
    void OnNewWindow2(IDispatch** ppDisp, bool& bCancel) override { Answer(L"new2", bCancel, ppDisp); }
    void OnNewWindow3(IDispatch** ppDisp, bool& bCancel, DWORD dwFlags, const CString&, const CString& strUrl) override
    {
        Answer(FormatString(L"new3 %lu %s", dwFlags, strUrl.GetString()), bCancel, ppDisp);
    }
    void Answer(const CString& strCall, bool& bCancel, IDispatch** ppDisp = nullptr)
    {
        calls.push_back(strCall);
        bCancel = true;
        *(ppDisp != nullptr ? ppDisp : &m_pIgnored) = kSomeDispatch;
    }

private:
    IDispatch* m_pIgnored = nullptr;
};

// An argument: a pointer for VT_BYREF and object types, else a number.
template <typename T>
VARIANT Arg(VARTYPE vt, T value)
{
    VARIANT v = {};
    v.vt = vt;
    v.llVal = (LONG_PTR)value;
    return v;
}

// The event's arguments in declaration order; DISPPARAMS holds them last first.
HRESULT Fire(CBrowserEvents& handler, DISPID dispid, std::vector<VARIANT> args)
{
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return DispatchBrowserEvent(dispid, &params, handler);
}

class BrowserEvents : public ::testing::Test {
protected:
    CBstr url{L"u"};
    VARIANT urlVariant = Arg(VT_BSTR, url.get());
    const VARIANT disp = Arg(VT_DISPATCH, kSomeDispatch);
    const VARIANT none = {};
    VARIANT_BOOL cancel = VARIANT_FALSE;
    CRecorder recorder;
};

// The control's methods that the site never calls.
#define NOT_USED(method, ...) \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return E_NOTIMPL; }

// A control that records what its site does to it and holds its site and sink.
class CFakeControl final : public IOleObject,
                           public IOleInPlaceObject,
                           public IConnectionPointContainer,
                           public IConnectionPoint {
public:
    std::vector<std::string> calls;
    LONG nRef = 1;
    CComPtr<IOleClientSite> pSite;
    CComPtr<IUnknown> pSink;

    HRESULT Record(const char* pszCall, HRESULT hr = S_OK) { return calls.push_back(pszCall), hr; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IOleObject ? static_cast<IOleObject*>(this)
               : riid == IID_IOleInPlaceObject               ? static_cast<IOleInPlaceObject*>(this)
               : riid == IID_IConnectionPointContainer       ? static_cast<IConnectionPointContainer*>(this)
               : riid == IID_IConnectionPoint                ? static_cast<void*>(static_cast<IConnectionPoint*>(this))
                                                             : nullptr;
        return *ppv != nullptr ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++nRef); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--nRef); }

    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* pClientSite) override
    {
        pSite = CComPtr<IOleClientSite>(pClientSite);
        return Record(pClientSite != nullptr ? "SetClientSite(site)" : "SetClientSite(null)");
    }
    HRESULT STDMETHODCALLTYPE Close(DWORD dwSave) override { return Record(dwSave == OLECLOSE_NOSAVE ? "Close" : "?"); }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG iVerb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        return Record(iVerb == OLEIVERB_INPLACEACTIVATE ? "DoVerb(inplace)" : "DoVerb(other)");
    }
    NOT_USED(GetClientSite, IOleClientSite**) NOT_USED(SetHostNames, LPCOLESTR, LPCOLESTR) NOT_USED(Update)
    NOT_USED(SetMoniker, DWORD, IMoniker*) NOT_USED(GetMoniker, DWORD, DWORD, IMoniker**) NOT_USED(IsUpToDate)
    NOT_USED(InitFromData, IDataObject*, BOOL, DWORD) NOT_USED(GetClipboardData, DWORD, IDataObject**)
    NOT_USED(EnumVerbs, IEnumOLEVERB**) NOT_USED(GetUserClassID, CLSID*) NOT_USED(GetUserType, DWORD, LPOLESTR*)
    NOT_USED(SetExtent, DWORD, SIZEL*) NOT_USED(GetExtent, DWORD, SIZEL*) NOT_USED(Advise, IAdviseSink*, DWORD*)
    NOT_USED(EnumAdvise, IEnumSTATDATA**) NOT_USED(GetMiscStatus, DWORD, DWORD*) NOT_USED(SetColorScheme, LOGPALETTE*)

    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override { return Record("InPlaceDeactivate"); }
    HRESULT STDMETHODCALLTYPE UIDeactivate() override { return Record("UIDeactivate"); }
    NOT_USED(GetWindow, HWND*) NOT_USED(ContextSensitiveHelp, BOOL) NOT_USED(SetObjectRects, LPCRECT, LPCRECT)
    NOT_USED(ReactivateAndUndo)

    // IConnectionPointContainer and IConnectionPoint (Unadvise serves both).
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override
    {
        *ppCP = nullptr;
        return IsEqualIID(riid, DIID_DWebBrowserEvents2) ? QueryInterface(IID_IConnectionPoint, (void**)ppCP) : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override
    {
        pSink = CComPtr<IUnknown>(pUnkSink);
        *pdwCookie = 7;
        return Record("Advise");
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override
    {
        pSink.reset();
        return Record(dwCookie == 7 ? "Unadvise" : "?");
    }
    NOT_USED(EnumConnectionPoints, IEnumConnectionPoints**) NOT_USED(GetConnectionInterface, IID*)
    NOT_USED(GetConnectionPointContainer, IConnectionPointContainer**) NOT_USED(EnumConnections, IEnumConnections**)
};

// Window threads, with this test's thread as the application thread: one
// whose view never publishes a browser, or one that gets no window.
class CFaultyWindowThread : public CMSDIThread {
public:
    CFaultyWindowThread(CMSDIThreadManager& owner, bool bWindowless) : CMSDIThread(owner), m_bWindow(!bWindowless) {}

protected:
    std::unique_ptr<CSingleDocTemplate> CreateDocTemplate() override
    {
        return std::make_unique<CSingleDocTemplate>(
            IDR_MAINFRAME, [] { return std::make_unique<CQuelmarSMDIDoc>(); },
            [bWindow = m_bWindow]() { return bWindow ? std::make_unique<CMainFrame>() : nullptr; },
            [] { return std::make_unique<CView>(); });
    }

private:
    bool m_bWindow;
};

class CTestThreadManager : public CMSDIThreadManager {
public:
    using CMSDIThreadManager::CMSDIThreadManager;
    enum { real, silent, windowless } next = real;

protected:
    CMSDIThread* CreateThreadObject() override
    {
        return next == real ? CMSDIThreadManager::CreateThreadObject()
                            : new CFaultyWindowThread(*this, next == windowless);
    }
};

// Where a window's browser is, read on the window's own thread.
CString LocationOf(HWND hFrame)
{
    CString strLocation;
    RunOnWindowThread(hFrame, [&] {
        strLocation = dynamic_cast<CMainFrame*>(CWindow::FromHandle(hFrame))->GetActiveBrowserView()->GetLocationUrl();
    });
    return strLocation;
}

class Windows : public ::testing::Test {
protected:
    void TearDown() override
    {
        manager.EndAllThreads();
        // The windows' last messages; they must be harmless now.
        PumpFor(50);
        EXPECT_EQ(CFrameUrlMessage::Outstanding(), 0u);
    }

    // The application thread's loop: thread messages counted and handed on.
    bool PumpUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs = 20000)
    {
        const ULONGLONG ullDeadline = GetTickCount64() + dwTimeoutMs;
        MSG msg;
        while (!condition()) {
            if (GetTickCount64() >= ullDeadline) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&msg);  // without a window: nothing
                if (msg.hwnd == nullptr) {
                    ++received[msg.message];
                    manager.HandleThreadMessage(msg);
                }
            }
        }
        return true;
    }
    void PumpFor(DWORD dwMs) { PumpUntil([] { return false; }, dwMs); }
    int Started() { return received[WM_MSDI_THREAD_STARTED]; }

    bool WaitForLocation(HWND hFrame, const wchar_t* pszPart)
    {
        return PumpUntil([&] { return LocationOf(hFrame).Find(pszPart) >= 0; }, 10000);
    }
    CString Page(const wchar_t* pszName)
    {
        WriteTestFile(folder / pszName, "<html><head><title>A test page</title></head><body>A page</body></html>");
        return L"file:///" + (folder / pszName);
    }

    CTempFolder folder;
    const CString urlA = Page(L"page-a.html");
    const CString urlB = Page(L"page-b.html");
    CTestThreadManager manager{GetCurrentThreadId(), Page(L"page-c.html")};
    std::map<UINT, int> received;
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

// Before Vista the protocols' own open commands are the choice, and the
// client must be registered beside them.
TEST_F(DefaultBrowser, BeforeVistaRegisteringMakesTheProgramTheDefault)
{
    CTestBrowser xp(m_strProgram, LogonName());
    xp.ActAsBeforeVista();
    xp.m_nAnswer = IDYES;
    EXPECT_FALSE(xp.IsDefault());
    EXPECT_TRUE(xp.SetAsDefault(TRUE));
    EXPECT_TRUE(xp.IsDefault());
    RegDeleteTreeW(kMachine, kClients + L"\\Nulvane." + LogonName());
    EXPECT_FALSE(xp.IsDefault());
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

TEST_F(BrowserEvents, DecodesEachHandledEventAndLetsMalformedArgumentsReachNoHandler)
{
    VARIANT urlRef = Arg(VT_BYREF | VT_VARIANT, &urlVariant);
    BSTR bstrUrl = url.get();
    // Each event's own out variables, so that each write is seen.
    VARIANT_BOOL cancels[3] = {};
    IDispatch* news[2] = {};
    const std::pair<DISPID, std::vector<VARIANT>> events[] = {
        {DISPID_BEFORENAVIGATE2, {disp, urlRef, none, none, none, none, Arg(VT_BYREF | VT_BOOL, &cancels[0])}},
        {DISPID_NAVIGATECOMPLETE2, {disp, urlRef}},
        {DISPID_DOCUMENTCOMPLETE, {disp, urlRef}},
        {DISPID_TITLECHANGE, {urlVariant}},
        {DISPID_STATUSTEXTCHANGE, {Arg(VT_BYREF | VT_BSTR, &bstrUrl)}},
        {DISPID_COMMANDSTATECHANGE, {Arg(VT_I4, 2), Arg(VT_BOOL, VARIANT_TRUE)}},
        {DISPID_NEWWINDOW2, {Arg(VT_BYREF | VT_DISPATCH, &news[0]), Arg(VT_BYREF | VT_BOOL, &cancels[1])}},
        {DISPID_NEWWINDOW3,
         {Arg(VT_BYREF | VT_DISPATCH, &news[1]), Arg(VT_BYREF | VT_BOOL, &cancels[2]), Arg(VT_UI4, 6), urlVariant,
          urlVariant}}};
    for (const auto& [dispid, args] : events) {
        EXPECT_EQ(Fire(recorder, dispid, args), S_OK) << dispid;
    }
    EXPECT_EQ(recorder.calls, (std::vector<CString>{L"before u", L"complete u", L"document u", L"title u", L"status u",
                                                    L"command 2 1", L"new2", L"new3 6 u"}));
    EXPECT_EQ(std::vector<VARIANT_BOOL>(cancels, cancels + 3), std::vector<VARIANT_BOOL>(3, VARIANT_TRUE));
    EXPECT_TRUE(news[0] == kSomeDispatch && news[1] == kSomeDispatch);

    recorder.calls.clear();
    VARIANT number = Arg(VT_I4, 5);
    VARIANT twice = Arg(VT_BYREF | VT_VARIANT, &urlVariant);
    DISPPARAMS noArray = {nullptr, nullptr, 1, 0};
    const std::pair<DISPID, std::vector<VARIANT>> typeMismatches[] = {
        // Cancel by value, or by a null reference: nowhere to write.
        {DISPID_BEFORENAVIGATE2, {disp, urlRef, none, none, none, none, Arg(VT_BOOL, 0)}},
        {DISPID_BEFORENAVIGATE2, {disp, urlRef, none, none, none, none, Arg(VT_BYREF | VT_BOOL, 0)}},
        // A number for the URL, and a URL wrapped twice.
        {DISPID_NAVIGATECOMPLETE2, {disp, Arg(VT_BYREF | VT_VARIANT, &number)}},
        {DISPID_NAVIGATECOMPLETE2, {disp, Arg(VT_BYREF | VT_VARIANT, &twice)}},
        // The new window's out parameter by value; a text for a command number.
        {DISPID_NEWWINDOW2, {disp, Arg(VT_BYREF | VT_BOOL, &cancel)}},
        {DISPID_COMMANDSTATECHANGE, {urlVariant, Arg(VT_BOOL, VARIANT_TRUE)}}};
    for (const auto& [dispid, args] : typeMismatches) {
        EXPECT_EQ(Fire(recorder, dispid, args), DISP_E_TYPEMISMATCH) << dispid;
    }
    // Too few arguments (Cancel past the end), a count without an array, none.
    EXPECT_EQ(Fire(recorder, DISPID_BEFORENAVIGATE2, {disp, urlRef}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_TITLECHANGE, &noArray, recorder), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_TITLECHANGE, nullptr, recorder), DISP_E_BADPARAMCOUNT);
    // Events not handled here, and the control's ambient property queries.
    EXPECT_EQ(DispatchBrowserEvent(DISPID_DOWNLOADBEGIN, nullptr, recorder), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(DispatchBrowserEvent(-5501, nullptr, recorder), DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(cancel, VARIANT_FALSE);
}

TEST_F(BrowserEvents, TheSiteTakesTheControlDownInOrderAndKeepsNoReference)
{
    const LONG nSitesBefore = CBrowserSite::LiveCount();
    CComPtr<CBrowserSite> site;
    CFakeControl control;
    ASSERT_EQ(CBrowserSite::Create(nullptr, RECT{0, 0, 400, 300}, &recorder, site, &control), S_OK);
    EXPECT_EQ(CBrowserSite::LiveCount(), nSitesBefore + 1);
    EXPECT_EQ(control.calls, (std::vector<std::string>{"SetClientSite(site)", "DoVerb(inplace)", "Advise"}));

    // Events reach the view until Close, and never after.
    CComPtr<IDispatch> pSink;
    ASSERT_EQ(control.pSink->QueryInterface(IID_IDispatch, pSink.put_void()), S_OK);
    DISPPARAMS params = {&urlVariant, nullptr, 1, 0};
    auto fire = [&] {
        return pSink->Invoke(DISPID_STATUSTEXTCHANGE, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    };
    EXPECT_EQ(fire(), S_OK);

    control.calls.clear();
    site->Close();
    EXPECT_EQ(control.calls, (std::vector<std::string>{"InPlaceDeactivate", "UIDeactivate", "Unadvise",
                                                       "Close", "SetClientSite(null)"}));
    EXPECT_EQ(fire(), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(recorder.calls, std::vector<CString>{L"status u"});
    pSink.reset();
    EXPECT_TRUE(site->IsClosed());
    // Every reference the site took on the control is given back ...
    EXPECT_EQ(control.nRef, 1);
    // ... and the control gave back every one it had on the site.
    site.reset();
    EXPECT_EQ(CBrowserSite::LiveCount(), nSitesBefore);
}

TEST(FromOtherProcesses, OnlyTheDdeOpenCommandWithAClosedUrlAndOnlyAUrlThisProcessHandedOutAreTaken)
{
    // Each command, and the URL it gives; null: refused.
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"[open(\"http://example.com/a b\")]", L"http://example.com/a b"}, {L"[open(\"a\"b\")]", L"a"},
        {L"[open(\"\")]", L""}, {L"[open(\"http://example.com/", nullptr}, {L"[open(a)]", nullptr},
        {L"[OPEN(\"a\")]", nullptr}, {L" [open(\"a\")]", nullptr}, {L"", nullptr}, {nullptr, nullptr}};
    for (const auto& [pszCommand, pszUrl] : cases) {
        CString strUrl = L"unchanged";
        EXPECT_EQ(CMSDIThreadManager::ParseDdeOpenCommand(pszCommand, strUrl), pszUrl != nullptr)
            << (pszCommand != nullptr ? pszCommand : L"(null)");
        EXPECT_EQ(strUrl, pszUrl != nullptr ? pszUrl : L"unchanged");
    }
    // A URL address another process posts with WM_FRAME_OPEN_IN_NEW_TAB.
    wchar_t szForeign[] = L"file:///C:/foreign.html";
    CString strUrl = L"unchanged";
    EXPECT_FALSE(CFrameUrlMessage::Take(reinterpret_cast<WPARAM>(szForeign), strUrl));
    EXPECT_FALSE(CFrameUrlMessage::Take(0x1234, strUrl));
    EXPECT_EQ(strUrl, L"unchanged");
}

TEST(NewWindowHandOffState, RefusesAPublicationAfterTheRequesterGaveUp)
{
    COleInitializer ole;
    CComPtr<IClassFactory> pFactory;
    pFactory.Attach(CAutomationObject::CreateClassFactory());
    CComPtr<IDispatch> pBrowser;
    ASSERT_EQ(pFactory->CreateInstance(nullptr, IID_IDispatch, pBrowser.put_void()), S_OK);
    // A script asks for one name: one answer, nothing written past it.
    DISPID ids[2] = {0, 77};
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"anything")};
    pBrowser->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, ids);
    EXPECT_TRUE(ids[0] == DISPID_UNKNOWN && ids[1] == 77);

    CComPtr<IDispatch> pReceived;
    CNewWindowHandOff handOff;
    EXPECT_FALSE(handOff.Wait(30, 10));
    EXPECT_EQ(handOff.TakeOrCancel(pReceived.put()), E_ABORT);
    EXPECT_FALSE(pReceived);
    EXPECT_FALSE(handOff.Publish(pBrowser.get()));
}

TEST_F(Windows, UrlsAndNewWindowRequestsReachTheirWindowsAndExitEndsThemAll)
{
    for (INTERNETFEATURELIST feature : SecurityFeatures()) {
        ASSERT_EQ(CoInternetSetFeatureEnabled(feature, SET_FEATURE_ON_PROCESS, FALSE), S_OK);
    }
    // From the application thread a URL opens a window; a refused DDE command none.
    EXPECT_FALSE(manager.OnDDECommand(L"[close(\"" + urlB + L"\")]"));
    manager.OpenDocumentFile(urlA);
    ASSERT_TRUE(PumpUntil([&] { return Started() == 1; }));
    const HWND hWnd = manager.GetMainWindows()[0];
    ASSERT_TRUE(WaitForLocation(hWnd, L"page-a.html"));
    // The window turned the security features on.
    for (INTERNETFEATURELIST feature : SecurityFeatures()) {
        EXPECT_EQ(CoInternetIsFeatureEnabled(feature, GET_FEATURE_FROM_PROCESS), S_OK) << "feature " << feature;
    }

    // From the window's own thread: that window navigates, no thread starts.
    ASSERT_TRUE(RunOnWindowThread(hWnd, [&] { manager.OpenDocumentFile(urlB); }));
    EXPECT_TRUE(WaitForLocation(hWnd, L"page-b.html"));
    PumpFor(200);
    EXPECT_TRUE(manager.GetThreadCount() == 1 && Started() == 1);

    // A new window asked for on a window's thread, as inside its control's
    // event: the browser received is a proxy into the new window's thread.
    HRESULT hrNavigate = E_FAIL;
    ASSERT_TRUE(RunOnWindowThread(hWnd, [&] {
        CComPtr<IDispatch> pDisp;
        CComPtr<IWebBrowser2> pBrowser;
        if (manager.RequestNewWindow(pDisp.put()) && SUCCEEDED(pDisp.QueryInterface(pBrowser))) {
            CBstr bstrUrl(urlA);
            CVariant empty;
            hrNavigate = pBrowser->Navigate(bstrUrl.get(), empty.get(), empty.get(), empty.get(), empty.get());
        }
    }));
    EXPECT_EQ(hrNavigate, S_OK);
    ASSERT_TRUE(PumpUntil([&] { return Started() == 2; }));
    EXPECT_TRUE(WaitForLocation(manager.GetMainWindows()[1], L"page-a.html"));
    EXPECT_GE(LocationOf(hWnd).Find(L"page-b.html"), 0);

    // The DDE open command and New Window (on the default URL) open their own.
    EXPECT_TRUE(manager.OnDDECommand(L"[open(\"" + urlB + L"\")]"));
    ASSERT_TRUE(PumpUntil([&] { return Started() == 3; }));
    manager.OnFileNew();
    ASSERT_TRUE(PumpUntil([&] { return Started() == 4; }));
    EXPECT_TRUE(WaitForLocation(manager.GetMainWindows()[2], L"page-b.html"));
    EXPECT_TRUE(WaitForLocation(manager.GetMainWindows()[3], L"page-c.html"));

    // A new window that never publishes its browser: the requester waits
    // no longer than the bound, and that window is told to go, and goes.
    manager.next = CTestThreadManager::silent;
    manager.SetHandOffTimeout(400);
    CComPtr<IDispatch> pDisp;
    const ULONGLONG ullStart = GetTickCount64();
    EXPECT_FALSE(manager.RequestNewWindow(pDisp.put()));
    const ULONGLONG ullElapsed = GetTickCount64() - ullStart;
    EXPECT_FALSE(pDisp);
    EXPECT_TRUE(ullElapsed >= 350 && ullElapsed < 5000) << ullElapsed;
    ASSERT_TRUE(PumpUntil([&] { return manager.GetThreadCount() == 4 && received[WM_MSDI_THREAD_ENDING] == 1; }));
    EXPECT_EQ(Started(), 5);

    // Exit closes every window; the last to end asks for the clean-up, once.
    CHandle hFirstThread(OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(hWnd, nullptr)));
    manager.CloseAllWindows();
    ASSERT_TRUE(PumpUntil([&] { return manager.GetThreadCount() == 0; }));
    // OnThreadEnding returned only once each thread had ended.
    EXPECT_EQ(WaitForSingleObject(hFirstThread.get(), 0), WAIT_OBJECT_0);
    PumpFor(100);
    EXPECT_EQ(received[WM_MSDI_CLEANUP], 1);
}

TEST_F(Windows, ANewWindowThatFailsWakesTheRequesterAtOnceAndAsTheOnlyWindowEndsTheSession)
{
    manager.next = CTestThreadManager::windowless;
    CComPtr<IDispatch> pDisp;
    const ULONGLONG ullStart = GetTickCount64();
    EXPECT_FALSE(manager.RequestNewWindow(pDisp.put()));
    EXPECT_LT(GetTickCount64() - ullStart, 5000u);
    ASSERT_TRUE(PumpUntil([&] { return manager.GetThreadCount() == 0; }));
    EXPECT_EQ(Started(), 0);
    EXPECT_EQ(received[WM_MSDI_THREAD_ENDING], 1);
    EXPECT_EQ(received[WM_MSDI_CLEANUP], 1);
}
