#include <winsock2.h>
#include <ws2tcpip.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <urlhist.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "framework/DocTemplate.h"
#include "framework/ProductWebSite.h"
#include "resources/Resource.h"
#include "shell/BrowserContextMenu.h"
#include "shell/ContextMenuSubclass.h"
#include "shell/HostMessage.h"
#include "shell/MainFrame.h"
#include "shell/PageIcon.h"
#include "shell/QuelmarSMDIDoc.h"
#include "shell/QuelmarSMDIView.h"
#include "shell/SearchSettings.h"
#include "shell/SecurityManager.h"
#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/WindowCapture.h"

namespace {

// A web proxy on 127.0.0.1 that WinINet is pointed at through the registry:
// it records the address of every request and answers with a small page,
// except for the product's error page, whose connection it drops, as an
// unreachable site would. The control's internet session reads the proxy
// once per process, at its first web request: the test that uses the proxy
// must come before any other web request in this program.
class CLoopbackProxy {
public:
    CLoopbackProxy()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int nLength = sizeof(address);
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        listen(m_listener, 8);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &nLength);
        m_nPort = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
        SetProxy(FormatString(L"127.0.0.1:%d", m_nPort));
    }
    ~CLoopbackProxy()
    {
        SetProxy(L"");
        closesocket(m_listener);
        m_thread.join();
        WSACleanup();
    }
    std::vector<std::string> Requests()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_requests;
    }

private:
    static void SetProxy(const CString& strServer)
    {
        HKEY hKey = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                        nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr);
        const DWORD dwEnable = strServer.IsEmpty() ? 0 : 1;
        RegSetValueExW(hKey, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwEnable), 4);
        RegSetValueExW(hKey, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(strServer.GetString()),
                       (strServer.GetLength() + 1) * 2);
        RegCloseKey(hKey);
        InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
        InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
    }
    void Serve()
    {
        for (SOCKET client; (client = accept(m_listener, nullptr, nullptr)) != INVALID_SOCKET; closesocket(client)) {
            std::string request;
            char buffer[2048];
            for (int n; request.find("\r\n\r\n") == std::string::npos &&
                        (n = recv(client, buffer, sizeof(buffer), 0)) > 0;) {
                request.append(buffer, static_cast<size_t>(n));
            }
            const size_t nStart = request.find(' ') + 1;
            const std::string url = request.substr(nStart, request.find(' ', nStart) - nStart);
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_requests.push_back(url);
            }
            if (url.find("/dnserror?") == std::string::npos) {
                const std::string page = "<html><head><title>Proxied</title></head><body>proxied</body></html>";
                const std::string answer = "HTTP/1.0 200 OK\r\nCache-Control: max-age=3600\r\n"
                                           "Content-Type: text/html\r\nContent-Length: " +
                                           std::to_string(page.size()) + "\r\n\r\n" + page;
                send(client, answer.data(), static_cast<int>(answer.size()), 0);
            }
        }
    }

    SOCKET m_listener;
    int m_nPort = 0;
    std::thread m_thread;
    std::mutex m_lock;
    std::vector<std::string> m_requests;
};

// One browser window with one tab, on this thread, as a window thread
// makes it; every site the window made is gone after it.
class BrowserView : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ole.Succeeded());
        m_nSitesBefore = CBrowserSite::LiveCount();
        ASSERT_NE(templ.OpenDocumentFile(nullptr), nullptr);
        frame = dynamic_cast<CMainFrame*>(templ.GetFrame());
        view = frame->GetActiveBrowserView();
        ASSERT_TRUE(view != nullptr && view->GetBrowser() != nullptr);
        browser = view->GetBrowser();
    }
    void TearDown() override
    {
        view->CloseTab();
        templ.CloseDocument();
        EXPECT_EQ(CBrowserSite::LiveCount(), m_nSitesBefore);
    }
    // An event as the control sends it: arguments last first, cancel by reference.
    HRESULT Fire(DISPID dispid, std::vector<VARIANT> args)
    {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        return DispatchBrowserEvent(dispid, &params, *view);
    }
    static VARIANT Arg(VARTYPE vt, LONG_PTR value)
    {
        VARIANT v = {};
        v.vt = vt;
        v.llVal = value;
        return v;
    }

    COleInitializer ole;
    CLogCapture log;
    CSingleDocTemplate templ{IDR_MAINFRAME, [] { return std::make_unique<CQuelmarSMDIDoc>(); },
                             [] { return std::make_unique<CMainFrame>(); },
                             [] { return std::make_unique<CQuelmarSMDIView>(); }};
    CMainFrame* frame = nullptr;
    CQuelmarSMDIView* view = nullptr;
    IWebBrowser2* browser = nullptr;

private:
    LONG m_nSitesBefore = 0;
};

std::vector<std::string> Containing(const std::vector<std::string>& lines, const char* pszPart)
{
    std::vector<std::string> found;
    for (const std::string& line : lines) {
        if (line.find(pszPart) != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}

}  // namespace

TEST_F(BrowserView, RequestsExactlyTheSearchAndErrorPageAddressesAndEndsTheErrorChainAtItsOwnPage)
{
    CLoopbackProxy proxy;
    // A loopback page: the control fetches it and keeps it in the cache.
    const CString strPage = L"http://127.0.0.1:9/loopback-page.html";
    view->Navigate(strPage);
    EXPECT_TRUE(PumpMessagesUntil([&] { return proxy.Requests().size() == 1; }, 15000));
    DWORD dwSize = 0;
    EXPECT_TRUE(PumpMessagesUntil(
        [&] { return GetUrlCacheEntryInfoW(strPage, nullptr, &dwSize) || GetLastError() == ERROR_INSUFFICIENT_BUFFER; },
        5000));

    // What the user typed, and the address the program asks for: the
    // blanks encoded by the control, the rest by the program, so that
    // nothing typed starts a parameter of its own or cuts the query short.
    const std::pair<const wchar_t*, const char*> searches[] = {
        {L"two words", "two%20words"},
        {L"salt & pepper #1", "salt%20%26%20pepper%20%231"},
        {L"100% c++ a=b", "100%25%20c%2B%2B%20a%3Db"},
    };
    for (const auto& [pszText, pszQuery] : searches) {
        const size_t nBefore = proxy.Requests().size();
        view->Search(pszText);
        ASSERT_TRUE(PumpMessagesUntil([&] { return proxy.Requests().size() > nBefore; }, 15000));
        EXPECT_EQ(proxy.Requests().back(), std::string("http://search.nulvane.com:80/ar?q=") + pszQuery +
                                               "&siteid=20480001&qsrc=999&l=dis");
    }

    // A host that cannot be found, as the platform's engine reports it
    // (Wine's reports another status): the error page is asked for once,
    // with the address as one value; it cannot be reached either (the
    // proxy drops it), and the program's own page ends the chain.
    log.Clear();
    bool bCancel = false;
    view->OnNavigateError(browser, L"http://a.invalid/x?a=1&b=2#c", L"", CQuelmarSMDIView::kStatusHostNotFound,
                          bCancel);
    const wchar_t kOwnPageShown[] =
        L"CQuelmarSMDIView::OnNavigateErrorExplorer1 the error page cannot be reached, showing the program's own";
    EXPECT_TRUE(PumpMessagesUntil([&] { return log.HasMessage(kOwnPageShown); }, 15000));
    PumpMessagesFor(3000);
    EXPECT_EQ(Containing(proxy.Requests(), "dnserror"),
              std::vector<std::string>{"http://www.nulvane.com:80/dnserror?req=http://a.invalid/x?a%3D1%26b%3D2%23c"});
    EXPECT_EQ(log.CountMessage(kOwnPageShown), 1);
    // Two navigations: the error page and our own, none after.
    EXPECT_EQ(log.CountMessage(L"CQuelmarSMDIView::OnBeforeNavigate2Explorer1 start"), 2);
    EXPECT_EQ(CQuelmarSMDIView::OwnErrorPageAddress().Find(L"res://"), 0);
    HRSRC hPage = FindResourceW(nullptr, L"DNSERROR.HTM", MAKEINTRESOURCEW(23));
    EXPECT_TRUE(hPage != nullptr && FindResourceW(nullptr, L"DNSERROR.JPG", MAKEINTRESOURCEW(23)) != nullptr);
}

TEST_F(BrowserView, EventsAsTheControlSendsThemReachTheFrameAndTheRulesOfDownloadsAndProtocols)
{
    CBstr url(L"http://127.0.0.1:9/a.zip");
    VARIANT urlVariant = Arg(VT_BSTR, reinterpret_cast<LONG_PTR>(url.get()));
    const VARIANT none = {};
    const VARIANT self = Arg(VT_DISPATCH, reinterpret_cast<LONG_PTR>(browser));
    VARIANT_BOOL cancel = VARIANT_FALSE;
    const VARIANT cancelRef = Arg(VT_BYREF | VT_BOOL, reinterpret_cast<LONG_PTR>(&cancel));
    auto navigate = [&] {
        return Fire(DISPID_BEFORENAVIGATE2, {self, urlVariant, none, none, none, none, cancelRef});
    };
    auto download = [&](int nButton) {
        cancel = VARIANT_FALSE;
        CMessageBoxAnswerer answerer(L"Nulvane", nButton);
        EXPECT_EQ(Fire(DISPID_FILEDOWNLOAD, {Arg(VT_BOOL, VARIANT_FALSE), cancelRef}), S_OK);
        return std::make_pair(answerer.Seen(), cancel);
    };

    // A navigation of the tab's own browser shows the program's icon.
    ASSERT_EQ(navigate(), S_OK);
    EXPECT_TRUE(view->GetPageIcon().Get() != nullptr && view->GetPageIcon().GetKind() == IMAGE_ICON);
    // The first download of a navigation is warned of, with "Continue";
    // its Cancel cancels it; the next download of the same page goes by.
    auto [seen, bCancelled] = download(IDCANCEL);
    EXPECT_TRUE(seen.bFound && seen.strText.Find(L"\n") > 0 && seen.buttons[IDOK].strText == L"Continue");
    EXPECT_EQ(bCancelled, VARIANT_TRUE);
    EXPECT_FALSE(download(IDOK).first.bFound);
    EXPECT_EQ(cancel, VARIANT_FALSE);
    // A new navigation warns again.
    ASSERT_EQ(navigate(), S_OK);
    EXPECT_TRUE(download(IDOK).first.bFound);
    EXPECT_EQ(cancel, VARIANT_FALSE);

    // An unknown protocol: the message, and no navigation.
    {
        CMessageBoxAnswerer answerer(L"Nulvane", IDOK);
        CBstr strange(L"nosuch:thing");
        VARIANT status = Arg(VT_I4, CQuelmarSMDIView::kStatusUnknownProtocol);
        cancel = VARIANT_FALSE;
        EXPECT_EQ(Fire(DISPID_NAVIGATEERROR, {self, Arg(VT_BSTR, reinterpret_cast<LONG_PTR>(strange.get())), none,
                                              Arg(VT_BYREF | VT_VARIANT, reinterpret_cast<LONG_PTR>(&status)),
                                              cancelRef}),
                  S_OK);
        EXPECT_EQ(answerer.Seen().strText, L"Unknown Protocol nosuch:thing");
        EXPECT_EQ(cancel, VARIANT_TRUE);
    }

    // What the frame is told: back and forward, progress as a percentage.
    EXPECT_EQ(Fire(DISPID_COMMANDSTATECHANGE, {Arg(VT_I4, CSC_NAVIGATEBACK), Arg(VT_BOOL, VARIANT_TRUE)}), S_OK);
    EXPECT_TRUE(frame->IsBackEnabled() && !frame->IsForwardEnabled());
    const std::pair<std::pair<long, long>, int> progress[] = {{{50, 200}, 25}, {{0, 200}, -1}, {{5, 0}, -1}};
    for (const auto& [args, nPercent] : progress) {
        EXPECT_EQ(Fire(DISPID_PROGRESSCHANGE, {Arg(VT_I4, args.first), Arg(VT_I4, args.second)}), S_OK);
        EXPECT_EQ(view->GetProgress(), nPercent);
        // The bar shows only while there is something to show.
        HWND hBar = GetDlgItem(GetDlgItem(frame->GetSafeHwnd(), IDD_STATUS_BAR), IDC_STATUS_PROGRESS);
        EXPECT_EQ((GetWindowLongPtrW(hBar, GWL_STYLE) & WS_VISIBLE) != 0, nPercent >= 0) << nPercent;
    }
    EXPECT_EQ(Fire(DISPID_ONTOOLBAR, {Arg(VT_BOOL, VARIANT_FALSE)}), S_OK);
    EXPECT_FALSE(frame->IsToolbarShown());
    // A title: the address box shows where the control really is, the
    // tab gets its label; the status text shows below.
    frame->GetTopBar().SetAddressText(L"typed, not gone to");
    CBstr title(L"NULVANE Search: salt");
    CBstr status(L"Done");
    EXPECT_EQ(Fire(DISPID_TITLECHANGE, {Arg(VT_BSTR, reinterpret_cast<LONG_PTR>(title.get()))}), S_OK);
    EXPECT_EQ(Fire(DISPID_STATUSTEXTCHANGE, {Arg(VT_BSTR, reinterpret_cast<LONG_PTR>(status.get()))}), S_OK);
    EXPECT_EQ(frame->GetTopBar().GetAddressText(), view->GetLocationUrl());
    EXPECT_EQ(frame->GetTabStrip().GetTabLabel(0), L"Nulvane Search");
    EXPECT_EQ(frame->GetStatusBar().GetText(), L"Done");
}

TEST_F(BrowserView, PopUpsGoThroughOnlyAfterAClickOrAsTheUsersFirstRequestAndTheHostObjectsKeepThePrivacyRules)
{
    // (blocking, user-requested, ms since the click or none) -> allowed.
    const std::tuple<bool, bool, long, bool> newWindow2[] = {
        {true, false, -1, false}, {true, false, 1000, true}, {true, false, 1001, false},
        {false, false, -1, true}, {true, true, -1, true}};
    for (const auto& [bBlock, bRequested, nSince, bAllowed] : newWindow2) {
        const ULONGLONG ullNow = 500000;
        EXPECT_EQ(CQuelmarSMDIView::AllowNewWindow2(bBlock, bRequested, nSince < 0 ? 0 : ullNow - nSince, ullNow),
                  bAllowed) << nSince;
    }
    // NewWindow3's flags: 2 user-initiated, 4 the first such, 8 override key.
    const std::tuple<bool, DWORD, bool> newWindow3[] = {{true, 0, false}, {true, 2, false}, {true, 4, false},
                                                        {true, 6, true},  {true, 8, true},  {false, 0, true}};
    for (const auto& [bBlock, dwFlags, bAllowed] : newWindow3) {
        EXPECT_EQ(CQuelmarSMDIView::AllowNewWindow3(bBlock, false, dwFlags), bAllowed) << dwFlags;
    }
    // A click in the page counts until the page has completed.
    MSG click = {view->GetBrowserSite()->GetControlWindow(), WM_LBUTTONDOWN};
    view->PreTranslateMessage(&click);
    EXPECT_NE(view->GetLastClickTime(), 0u);
    view->OnNavigateComplete2(browser, L"http://127.0.0.1:9/");
    EXPECT_EQ(view->GetLastClickTime(), 0u);

    CComPtr<IServiceProvider> pServices;
    ASSERT_EQ(view->GetBrowserSite()->QueryInterface(IID_IServiceProvider, pServices.put_void()), S_OK);
    const GUID kTopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
    CComPtr<IUrlHistoryStg> pHistory;
    ASSERT_EQ(pServices->QueryService(kTopLevelBrowser, IID_IUrlHistoryStg, pHistory.put_void()), S_OK);
    STATURL stat = {sizeof(stat)};
    EXPECT_EQ(pHistory->AddUrl(L"http://127.0.0.1:9/", L"t", 0), S_OK);
    EXPECT_EQ(pHistory->QueryUrl(L"http://127.0.0.1:9/", 0, &stat), E_NOTIMPL);
    CComPtr<IInternetSecurityManager> pSecurity;
    EXPECT_EQ(pServices->QueryService(IID_IInternetSecurityManager, IID_IInternetSecurityManager,
                                      pSecurity.put_void()), S_OK);
    CComPtr<IUnknown> pOther;
    EXPECT_EQ(pServices->QueryService(kTopLevelBrowser, IID_IWebBrowser2, pOther.put_void()), E_NOINTERFACE);
    // Script errors: scripts go on, nothing is shown.
    CComPtr<IOleCommandTarget> pCommands;
    ASSERT_EQ(view->GetBrowserSite()->QueryInterface(IID_IOleCommandTarget, pCommands.put_void()), S_OK);
    const GUID kDocHostCommands = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};
    CVariant out;
    EXPECT_EQ(pCommands->Exec(&kDocHostCommands, 40, 0, nullptr, out.get()), S_OK);
    EXPECT_TRUE(V_VT(out.get()) == VT_BOOL && V_BOOL(out.get()) == VARIANT_TRUE);
    EXPECT_EQ(pCommands->Exec(&kDocHostCommands, 41, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);

    // Messages: the platform's caption becomes the program's; the notice
    // about ActiveX controls, and everything without the platform's
    // library, is dropped.
    const CString strPlatform = CHostMessage::PlatformCaption();
    EXPECT_FALSE(strPlatform.IsEmpty());
    const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*> messages[] = {
        {L"Hello", L"Web page", L"Web page", L"Nulvane"},
        {L"Hello", L"Page says", L"Web page", L"Page says"},
        {L"One or more ActiveX controls could not be displayed because either: x", L"Web page", L"Web page", nullptr},
        {L"Hello", L"Web page", L"", nullptr}};
    for (const auto& [pszText, pszCaption, pszPlatform, pszShown] : messages) {
        CString strShown;
        EXPECT_EQ(CHostMessage::ChooseCaption(pszText, pszCaption, pszPlatform, L"Nulvane", strShown),
                  pszShown != nullptr);
        EXPECT_EQ(strShown, pszShown != nullptr ? pszShown : L"");
    }
}

TEST(SecurityManager, RefusesEveryActiveXDownloadNoticesEachPageOnceAndKeepsATickedAnswer)
{
    CSecurityManager::CAnswers answers;
    std::vector<UINT> asked;
    std::vector<std::pair<int, bool>> replies;
    CComPtr<IInternetSecurityManager> pManager;
    pManager.Attach(CSecurityManager::Create(
        [&](UINT nTemplate, bool& bDontAskAgain) {
            asked.push_back(nTemplate);
            const auto [nAnswer, bTicked] = replies.empty() ? std::make_pair(IDOK, false) : replies.front();
            if (!replies.empty()) {
                replies.erase(replies.begin());
            }
            bDontAskAgain = bTicked;
            return nAnswer;
        },
        answers));
    // (page, action, flags, policy size, what the user answers) -> result, policy, dialogs so far.
    struct CCase {
        const wchar_t* pszPage;
        DWORD dwAction, dwFlags, cbPolicy;
        std::vector<std::pair<int, bool>> replies;
        HRESULT hr;
        DWORD dwPolicy;
        std::vector<UINT> asked;
    };
    const DWORD kUntouched = 0xAAAAAAAA;
    const CCase cases[] = {
        {L"http://a/", 0x1001, 0, 4, {}, S_FALSE, 3, {286}},
        {L"http://a/", 0x1004, 0, 4, {}, S_FALSE, 3, {286}},
        {L"http://b/", 0x1001, 0, 4, {{IDOK, true}}, S_FALSE, 3, {286, 286}},
        {L"http://c/", 0x1004, 0, 4, {}, S_FALSE, 3, {286, 286}},
        {L"http://c/", 0x1603, 1, 4, {}, INET_E_DEFAULT_ACTION, kUntouched, {286, 286}},
        {L"http://c/", 0x1603, 0, 4, {{IDNO, false}}, S_FALSE, 3, {286, 286, 285}},
        {L"http://c/", 0x1603, 0, 4, {{IDYES, true}}, S_OK, 0, {286, 286, 285, 285}},
        {L"http://d/", 0x1603, 0, 4, {}, S_OK, 0, {286, 286, 285, 285}},
        {L"http://d/", 0x1603, 0, 3, {}, S_FALSE, kUntouched, {286, 286, 285, 285}},
        {L"http://d/", 0x1400, 0, 4, {}, INET_E_DEFAULT_ACTION, kUntouched, {286, 286, 285, 285}},
    };
    for (const CCase& c : cases) {
        replies = c.replies;
        DWORD dwPolicy = kUntouched;
        EXPECT_EQ(pManager->ProcessUrlAction(c.pszPage, c.dwAction, reinterpret_cast<BYTE*>(&dwPolicy), c.cbPolicy,
                                             nullptr, 0, c.dwFlags, 0),
                  c.hr) << c.dwAction;
        EXPECT_EQ(dwPolicy, c.dwPolicy) << c.dwAction;
        EXPECT_EQ(asked, c.asked) << c.dwAction;
    }
}

TEST(SearchSettings, EachLanguageHasItsRowAndAnyOtherTheDefault)
{
    const CSearchSettings settings;
    // id -> home page, query address, caption.
    const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*> rows[] = {
        {L"0809", L"http://www.nulvane.com/search", L"http://uk.search.nulvane.com/ar?q=",
         L"Nulvane - Browse privately, leave nothing behind"},
        {L"0409", L"http://www.nulvane.com/us/search", L"http://search.nulvane.com/ar?q=",
         L"Nulvane - Browse privately, leave no trace"},
        {L"1009", L"http://www.nulvane.com/us/search", L"http://search.nulvane.com/ar?q=",
         L"Nulvane - Browse privately, leave no trace"},
        {L"0407", L"http://www.nulvane.com/int/search", L"http://search.nulvane.com/ar?q=",
         L"Nulvane - Browse privately, leave nothing behind"},
    };
    for (const auto& [pszId, pszHome, pszQuery, pszCaption] : rows) {
        EXPECT_EQ(settings.GetHomePage(pszId), pszHome);
        EXPECT_EQ(settings.GetSearchQuery(pszId), pszQuery);
        EXPECT_EQ(settings.GetCaption(pszId), pszCaption);
    }
    // Icon addresses against the page http://h/a/b.html.
    const std::pair<const wchar_t*, const wchar_t*> icons[] = {
        {L"/x.ico", L"http://h/x.ico"}, {L"x.ico", L"http://h/a/x.ico"}, {L"../y/x.ico", L"http://h/y/x.ico"},
        {L"http://i/x.ico", L"http://i/x.ico"}};
    for (const auto& [pszHref, pszAddress] : icons) {
        EXPECT_EQ(CPageIcon::ResolveAddress(pszHref, L"http://h/a/b.html"), pszAddress);
    }
    EXPECT_TRUE(CPageIcon::IsIconRel(L"ICON") && CPageIcon::IsIconRel(L"Shortcut Icon"));
    EXPECT_FALSE(CPageIcon::IsIconRel(L"stylesheet"));
}

TEST_F(BrowserView, TheContextMenuOffersANewTabBeforeTheNewWindowAndDropsTheRemovedItems)
{
    CComPtr<IDocHostUIHandler> pHandler;
    ASSERT_EQ(view->GetBrowserSite()->QueryInterface(IID_IDocHostUIHandler, pHandler.put_void()), S_OK);
    // The menu as it is shown, read from another thread while it is up.
    std::vector<std::pair<UINT, CString>> items;
    UINT nNewTabState = 0, nNewWindowState = 0;
    std::thread reader([&] {
        HWND hMenuWindow = nullptr;
        for (int i = 0; i < 400 && (hMenuWindow = FindWindowW(L"#32768", nullptr)) == nullptr; ++i) {
            Sleep(25);
        }
        HMENU hMenu = reinterpret_cast<HMENU>(SendMessageW(hMenuWindow, 0x01E1 /* MN_GETHMENU */, 0, 0));
        for (int i = 0; i < GetMenuItemCount(hMenu); ++i) {
            wchar_t szText[128] = {};
            GetMenuStringW(hMenu, i, szText, 128, MF_BYPOSITION);
            items.emplace_back(GetMenuItemID(hMenu, i), szText);
        }
        nNewTabState = GetMenuState(hMenu, ID_OPEN_IN_NEW_TAB, MF_BYCOMMAND) & MF_GRAYED;
        nNewWindowState = GetMenuState(hMenu, CBrowserContextMenu::kOpenInNewWindow, MF_BYCOMMAND) & MF_GRAYED;
        PostMessageW(hMenuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    POINT pt = {120, 120};
    EXPECT_EQ(pHandler->ShowContextMenu(CONTEXT_MENU_ANCHOR, &pt, nullptr, nullptr), S_OK);
    reader.join();
    auto it = std::find_if(items.begin(), items.end(), [](const auto& item) { return item.first == ID_OPEN_IN_NEW_TAB; });
    ASSERT_NE(it, items.end());
    EXPECT_EQ(it->second, L"Open in Ne&w Tab");
    EXPECT_TRUE(it + 1 != items.end() && (it + 1)->first == CBrowserContextMenu::kOpenInNewWindow);
    EXPECT_EQ(nNewTabState, nNewWindowState);
    for (size_t i = 0; i < items.size(); ++i) {
        const bool bSeparator = items[i].first == 0;
        EXPECT_FALSE(bSeparator && (i == 0 || i + 1 == items.size() || items[i + 1].first == 0)) << i;
        for (UINT nRemoved : CBrowserContextMenu::kRemoved) {
            EXPECT_NE(items[i].first, nRemoved);
        }
    }
    EXPECT_TRUE(CContextMenuSubclass::IsInstalled(view->GetBrowserSite()->GetControlWindow()));
}
