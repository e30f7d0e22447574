// The window threads, their manager, the new-window hand-off and the browser
// view, with this test's thread as the application thread.
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
#include "shell/QuelmarSMDIDoc.h"
#include "shell/QuelmarSMDIView.h"
#include "shell/SecurityFeatures.h"
#include "shell/ShellMessages.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowThreadCall.h"

namespace {

// A manager whose thread objects a test may choose.
class CTestThreadManager : public CMSDIThreadManager {
public:
    using CMSDIThreadManager::CMSDIThreadManager;
    std::function<CMSDIThread*(CMSDIThreadManager&)> threadFactory;

protected:
    CMSDIThread* CreateThreadObject() override
    {
        return threadFactory ? threadFactory(*this) : CMSDIThreadManager::CreateThreadObject();
    }
};

// A window thread whose view hosts nothing, so it never publishes a browser
// for a new-window request; or, when bWindowless, that gets no window.
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

// The browser view of a window; on the window's own thread.
CQuelmarSMDIView* ViewOf(HWND hFrame)
{
    return dynamic_cast<CMainFrame*>(CWindow::FromHandle(hFrame))->GetActiveBrowserView();
}

CString LocationOf(HWND hFrame)
{
    CString strLocation;
    RunOnWindowThread(hFrame, [&] { strLocation = ViewOf(hFrame)->GetLocationUrl(); });
    return strLocation;
}

bool TabOpenMutexExists()
{
    return CHandle(OpenMutexW(SYNCHRONIZE, FALSE, CMainFrame::kTabOpenMutexName)).valid();
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

    // The application thread's loop: window messages dispatched, thread
    // messages counted and handed to the manager.
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
                    if (msg.message == WM_MSDI_CLEANUP) {
                        cleanups.push_back(msg.wParam);
                    }
                    manager.HandleThreadMessage(msg);
                }
            }
        }
        return true;
    }
    void PumpFor(DWORD dwMs) { PumpUntil([] { return false; }, dwMs); }
    int Started() { return received[WM_MSDI_THREAD_STARTED]; }

    // Opens a window on each URL from the application thread and waits
    // until all have started; every frame, oldest first.
    std::vector<HWND> OpenWindows(const std::vector<CString>& urls)
    {
        const int nStarted = Started();
        for (const CString& strUrl : urls) {
            manager.OpenDocumentFile(strUrl);
        }
        EXPECT_TRUE(PumpUntil([&] { return Started() == nStarted + static_cast<int>(urls.size()); }));
        return manager.GetMainWindows();
    }
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
    const CString urlC = Page(L"page-c.html");
    CTestThreadManager manager{GetCurrentThreadId(), urlC};
    std::map<UINT, int> received;
    std::vector<WPARAM> cleanups;  // the wParam of each WM_MSDI_CLEANUP
};

}  // namespace

TEST(ThreadManagerDde, AcceptsOnlyTheOpenCommandWithAClosedUrl)
{
    const struct {
        const wchar_t* pszCommand;
        const wchar_t* pszUrl;  // null: refused
    } cases[] = {{L"[open(\"http://example.com/a b\")]", L"http://example.com/a b"}, {L"[open(\"a\"b\")]", L"a"},
                 {L"[open(\"\")]", L""}, {L"[open(\"http://example.com/", nullptr}, {L"[open(a)]", nullptr},
                 {L"[OPEN(\"a\")]", nullptr}, {L" [open(\"a\")]", nullptr}, {L"", nullptr}, {nullptr, nullptr}};
    for (const auto& c : cases) {
        CString strUrl = L"unchanged";
        EXPECT_EQ(CMSDIThreadManager::ParseDdeOpenCommand(c.pszCommand, strUrl), c.pszUrl != nullptr)
            << (c.pszCommand != nullptr ? c.pszCommand : L"(null)");
        EXPECT_EQ(strUrl, c.pszUrl != nullptr ? c.pszUrl : L"unchanged");
    }
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

TEST_F(Windows, AUrlOpensANewWindowFromTheApplicationThreadAndTheCallersOwnFromAWindowThread)
{
    for (INTERNETFEATURELIST feature : SecurityFeatures()) {
        ASSERT_EQ(CoInternetSetFeatureEnabled(feature, SET_FEATURE_ON_PROCESS, FALSE), S_OK);
    }
    // A refused DDE command opens nothing.
    EXPECT_FALSE(manager.OnDDECommand(L"[close(\"" + urlB + L"\")]"));
    EXPECT_EQ(manager.OpenDocumentFile(urlA), nullptr);
    EXPECT_EQ(manager.GetThreadCount(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return Started() == 1; }));
    const HWND hWnd = manager.GetMainWindows()[0];
    EXPECT_NE(GetWindowThreadProcessId(hWnd, nullptr), GetCurrentThreadId());
    ASSERT_TRUE(WaitForLocation(hWnd, L"page-a.html"));
    EXPECT_TRUE(IsWindowVisible(hWnd));
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

    // The DDE open command and New Window (on the default URL) open their own.
    EXPECT_TRUE(manager.OnDDECommand(L"[open(\"" + urlA + L"\")]"));
    ASSERT_TRUE(PumpUntil([&] { return Started() == 2; }));
    EXPECT_TRUE(WaitForLocation(manager.GetMainWindows()[1], L"page-a.html"));
    manager.OnFileNew();
    ASSERT_TRUE(PumpUntil([&] { return Started() == 3; }));
    EXPECT_TRUE(WaitForLocation(manager.GetMainWindows()[2], L"page-c.html"));

    // Exit closes every window; the last to end asks for the clean-up, once,
    // and no window holds the tab mutex any more.
    EXPECT_TRUE(TabOpenMutexExists());
    CHandle hFirstThread(OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(hWnd, nullptr)));
    manager.CloseAllWindows();
    ASSERT_TRUE(PumpUntil([&] { return manager.GetThreadCount() == 0; }));
    // OnThreadEnding returned only once each thread had ended.
    EXPECT_EQ(WaitForSingleObject(hFirstThread.get(), 0), WAIT_OBJECT_0);
    PumpFor(100);
    EXPECT_EQ(cleanups, std::vector<WPARAM>{1});
    EXPECT_FALSE(TabOpenMutexExists());
}

TEST_F(Windows, AFrameRefusesUrlPointersItDidNotHandOut)
{
    const std::vector<HWND> windows = OpenWindows({urlA});
    ASSERT_EQ(windows.size(), 1u);
    CLogCapture log;
    // What another process could post: an address that means nothing here.
    wchar_t szForeign[] = L"file:///C:/foreign.html";
    SendMessageW(windows[0], WM_FRAME_OPEN_IN_NEW_TAB, reinterpret_cast<WPARAM>(szForeign), 1);
    SendMessageW(windows[0], WM_FRAME_OPEN_IN_NEW_TAB, 0x1234, 0);
    EXPECT_EQ(log.MessagesContaining(L"refused WM_FRAME_OPEN_IN_NEW_TAB").size(), 2u);
    EXPECT_EQ(LocationOf(windows[0]).Find(L"foreign"), -1);

    // The same URL message from this process goes through.
    EXPECT_TRUE(CFrameUrlMessage::Send(windows[0], urlB, 0));
    EXPECT_TRUE(WaitForLocation(windows[0], L"page-b.html"));
}

TEST_F(Windows, ANewWindowHandsItsBrowserToTheRequestingView)
{
    const HWND hFirst = OpenWindows({urlA})[0];
    bool bCreated = false;
    HRESULT hrNavigate = E_FAIL;
    // On the requesting window's thread, as inside its control's event; the
    // browser received is a proxy into the new window's thread.
    ASSERT_TRUE(RunOnWindowThread(hFirst, [&] {
        CComPtr<IDispatch> pDisp;
        bCreated = ViewOf(hFirst)->CreateNewWindow(pDisp.put());
        CComPtr<IWebBrowser2> pBrowser;
        if (bCreated && SUCCEEDED(pDisp.QueryInterface(pBrowser))) {
            CBstr bstrUrl(urlB);
            CVariant empty;
            hrNavigate = pBrowser->Navigate(bstrUrl.get(), empty.get(), empty.get(), empty.get(), empty.get());
        }
    }));
    EXPECT_TRUE(bCreated);
    EXPECT_EQ(hrNavigate, S_OK);

    ASSERT_TRUE(PumpUntil([&] { return Started() == 2; }));
    const HWND hSecond = manager.GetMainWindows()[1];
    EXPECT_TRUE(WaitForLocation(hSecond, L"page-b.html"));
    EXPECT_GE(LocationOf(hFirst).Find(L"page-a.html"), 0);
    bool bStillRequest = true;
    RunOnWindowThread(hSecond, [&] { bStillRequest = CMSDIThread::GetCurrent()->IsNewWindowRequest(); });
    EXPECT_FALSE(bStillRequest);
}

TEST_F(Windows, ANewWindowThatFailsWakesTheRequesterAtOnceAndOneThatNeverPublishesWithinTheBound)
{
    manager.threadFactory = [](CMSDIThreadManager& m) { return new CFaultyWindowThread(m, true); };
    CComPtr<IDispatch> pDisp;
    ULONGLONG ullStart = GetTickCount64();
    EXPECT_FALSE(manager.RequestNewWindow(pDisp.put()));
    EXPECT_LT(GetTickCount64() - ullStart, 5000u);
    // The thread still reports its end; it was the only window: the
    // session ends.
    ASSERT_TRUE(PumpUntil([&] { return manager.GetThreadCount() == 0; }));
    EXPECT_EQ(Started(), 0);
    EXPECT_EQ(received[WM_MSDI_THREAD_ENDING], 1);
    EXPECT_EQ(cleanups, std::vector<WPARAM>{1});

    manager.threadFactory = nullptr;
    OpenWindows({urlA});
    manager.threadFactory = [](CMSDIThreadManager& m) { return new CFaultyWindowThread(m, false); };
    manager.SetHandOffTimeout(400);
    ullStart = GetTickCount64();
    EXPECT_FALSE(manager.RequestNewWindow(pDisp.put()));
    const ULONGLONG ullElapsed = GetTickCount64() - ullStart;
    EXPECT_FALSE(pDisp);
    EXPECT_GE(ullElapsed, 350u);
    EXPECT_LT(ullElapsed, 5000u);
    // The silent window was told to go, and went: only the first is left.
    ASSERT_TRUE(PumpUntil([&] { return manager.GetThreadCount() == 1 && received[WM_MSDI_THREAD_ENDING] == 2; }));
    EXPECT_EQ(Started(), 2);
    EXPECT_EQ(cleanups.size(), 1u);
}
