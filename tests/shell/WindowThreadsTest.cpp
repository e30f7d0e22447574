// The window threads, their manager and the new-window hand-off, with this
// test's thread as the application thread.
#include <gtest/gtest.h>

#include <urlmon.h>

#include <functional>
#include <map>

#include "framework/ComPtr.h"
#include "framework/Handles.h"
#include "framework/View.h"
#include "resources/Resource.h"
#include "shell/AutomationObject.h"
#include "shell/FrameUrlMessage.h"
#include "shell/MSDIThread.h"
#include "shell/MSDIThreadManager.h"
#include "shell/MainFrame.h"
#include "shell/NewWindowHandOff.h"
#include "shell/QuelmarSMDIView.h"
#include "shell/QuelmarSMDIDoc.h"
#include "shell/SecurityFeatures.h"
#include "shell/ShellMessages.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowThreadCall.h"

namespace {

// A window thread whose view never publishes a browser; or that gets no window.
class CFaultyWindowThread : public CMSDIThread {
public:
    CFaultyWindowThread(CMSDIThreadManager& manager, bool bWindowless)
        : CMSDIThread(manager), m_bWindowless(bWindowless)
    {
    }

protected:
    std::unique_ptr<CSingleDocTemplate> CreateDocTemplate() override
    {
        return std::make_unique<CSingleDocTemplate>(
            IDR_MAINFRAME, [] { return std::make_unique<CQuelmarSMDIDoc>(); },
            [bWindowless = m_bWindowless]() -> std::unique_ptr<CFrameWindow> {
                return bWindowless ? nullptr : std::make_unique<CMainFrame>();
            },
            [] { return std::make_unique<CView>(); });
    }

private:
    bool m_bWindowless;
};

// A manager that may start faulty window threads.
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
    EXPECT_EQ(manager.GetThreadCount(), 1u);
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
    EXPECT_EQ(manager.GetThreadCount(), 1u);
    EXPECT_EQ(Started(), 1);

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
    EXPECT_GE(ullElapsed, 350u);
    EXPECT_LT(ullElapsed, 5000u);
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
