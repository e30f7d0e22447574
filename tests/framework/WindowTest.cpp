#include "framework/Dialog.h"
#include "framework/DocTemplate.h"
#include "framework/Window.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "resources/Resource.h"
#include "tests/support/Printers.h"
#include "tests/support/TestWindow.h"

namespace {

std::vector<std::string> g_events;

bool Handled(const char* pszEvent)
{
    g_events.push_back(pszEvent);
    return true;
}

class CProbeWindow : public CWindow {
public:
    HWND hWndSeenAtCreate = nullptr;
    bool bThrowAtCreate = false;
    int nCaught = 0;
    int nNcDestroyed = 0;

    bool Create()
    {
        return RegisterWindowClass(L"FrameworkWindowTest", 0, nullptr, nullptr, nullptr) &&
               CreateEx(0, L"FrameworkWindowTest", L"probe", WS_POPUP, 0, 0, 50, 50, nullptr, 0);
    }

protected:
    int OnCreate(const CREATESTRUCTW&) override
    {
        hWndSeenAtCreate = GetSafeHwnd();
        if (bThrowAtCreate) {
            throw std::runtime_error("create");
        }
        return 0;
    }
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM, LRESULT& lResult) override
    {
        if (uMsg == WM_APP) {
            throw std::runtime_error("handler");
        }
        if (uMsg == WM_APP + 1) {
            lResult = static_cast<LRESULT>(wParam) * 2;
            return true;
        }
        return false;
    }
    void PostNcDestroy() override { ++nNcDestroyed; }
    void OnUnhandledException(const wchar_t*) noexcept override { ++nCaught; }
};

// Any template will do: the program's clean-up dialog, without its code.
class CPlainDialog : public CDialog {
public:
    explicit CPlainDialog(HWND hParent = nullptr, UINT nIDTemplate = IDD_CLEANUP) : CDialog(nIDTemplate, hParent) {}
    std::function<void(CPlainDialog&)> onInit;
    std::function<void(CPlainDialog&)> onTimer;
    bool bShown = false;

protected:
    BOOL OnInitDialog() override
    {
        SetTimer(GetSafeHwnd(), 1, 10, nullptr);
        if (onInit) {
            onInit(*this);
        }
        return TRUE;
    }
    void OnTimer(UINT_PTR) override
    {
        if (onTimer) {
            onTimer(*this);
        }
    }
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM, INT_PTR&) override
    {
        bShown = bShown || (uMsg == WM_SHOWWINDOW && wParam != 0);
        return false;
    }
};

// Each part of a document template records what happens to it.
class CTestDocument : public CDocument {
public:
    bool OnOpenDocument(const wchar_t* pszPathName) override
    {
        g_events.push_back("open document");
        return wcscmp(pszPathName, L"unopenable") != 0;
    }
    bool OnCmdMsg(UINT nID) override { return nID == 3 && Handled("document command"); }
    ~CTestDocument() override { g_events.push_back("document deleted"); }
};

class CTestView : public CView {
public:
    void OnInitialUpdate() override
    {
        g_events.push_back(GetDocument() != nullptr && GetParentFrame() != nullptr ? "initial update"
                                                                                   : "initial update, unattached");
    }
    bool OnCmdMsg(UINT nID) override
    {
        return nID == 2 ? Handled("view command") : CView::OnCmdMsg(nID);
    }
    ~CTestView() override { g_events.push_back("view deleted"); }

protected:
    void OnDestroy() override
    {
        g_events.push_back("view window destroyed");
        CView::OnDestroy();
    }
};

class CTestFrame : public CFrameWindow {
public:
    ~CTestFrame() override { g_events.push_back("frame deleted"); }

protected:
    int GetShowCommand() const override { return SW_SHOWNA; }
    bool OnCommand(UINT nID) override { return nID == 4 && Handled("frame command"); }
};

class CTestApplication : public CCmdTarget {
public:
    bool OnCmdMsg(UINT nID) override
    {
        return Handled(("application command " + std::to_string(nID)).c_str());
    }
};

CSingleDocTemplate MakeTemplate(bool bViewFails = false)
{
    return CSingleDocTemplate(
        128, [] { return std::make_unique<CTestDocument>(); }, [] { return std::make_unique<CTestFrame>(); },
        [bViewFails]() -> std::unique_ptr<CView> { return bViewFails ? nullptr : std::make_unique<CTestView>(); });
}

}  // namespace

TEST(Window, KnowsItsObjectFromCreationToDestructionAndStopsEveryException)
{
    CProbeWindow window;
    ASSERT_TRUE(window.Create());
    const HWND hWnd = window.GetSafeHwnd();
    EXPECT_EQ(window.hWndSeenAtCreate, hWnd);
    EXPECT_EQ(CWindow::FromHandle(hWnd), &window);
    EXPECT_EQ(SendMessageW(hWnd, WM_APP + 1, 21, 0), 42);
    EXPECT_EQ(SendMessageW(hWnd, WM_APP, 0, 0), 0);
    EXPECT_EQ(window.nCaught, 1);
    EXPECT_TRUE(window.DestroyWindow());
    EXPECT_EQ(window.GetSafeHwnd(), nullptr);
    EXPECT_EQ(window.nNcDestroyed, 1);
    EXPECT_EQ(CWindow::FromHandle(hWnd), nullptr);

    // A window of another class is never taken for ours, whatever its user
    // data holds.
    HWND hStatic = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(hStatic, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window));
    EXPECT_EQ(CWindow::FromHandle(hStatic), nullptr);
    DestroyWindow(hStatic);

    CProbeWindow throwing;
    throwing.bThrowAtCreate = true;
    EXPECT_FALSE(throwing.Create());
    EXPECT_EQ(throwing.GetSafeHwnd(), nullptr);
    EXPECT_EQ(throwing.nCaught, 1);
}

TEST(Dialog, HandsThreadMessagesOnWhileModalWithItsOwnerDisabled)
{
    CTestParentWindow owner;
    CPlainDialog dialog(owner.Get());
    std::vector<WPARAM> received;
    dialog.SetThreadMessageHandler([&](const MSG& msg) {
        if (msg.message == WM_APP + 7) {
            received.push_back(msg.wParam);
        }
    });
    bool bOwnerEnabledDuring = true;
    dialog.onInit = [&](CPlainDialog& dlg) {
        bOwnerEnabledDuring = IsWindowEnabled(owner.Get()) != FALSE;
        EXPECT_EQ(GetWindow(dlg.GetSafeHwnd(), GW_OWNER), owner.Get());
        PostThreadMessageW(GetCurrentThreadId(), WM_APP + 7, 1, 0);
        PostThreadMessageW(GetCurrentThreadId(), WM_APP + 7, 2, 0);
    };
    dialog.onTimer = [&](CPlainDialog& dlg) {
        if (received.size() == 2) {
            dlg.EndDialog(42);
        }
    };
    EXPECT_EQ(dialog.DoModal(), 42);
    EXPECT_EQ(received, (std::vector<WPARAM>{1, 2}));
    EXPECT_TRUE(dialog.bShown);
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    EXPECT_FALSE(bOwnerEnabledDuring);
    EXPECT_TRUE(IsWindowEnabled(owner.Get()));
}

TEST(Dialog, EndsUnshownWhenEndedInsideInitialisationOnAQuitOrWithoutATemplate)
{
    CPlainDialog ended;
    bool bTimerRan = false;
    ended.onInit = [&](CPlainDialog& dlg) { dlg.EndDialog(IDOK); };
    ended.onTimer = [&](CPlainDialog&) { bTimerRan = true; };
    EXPECT_EQ(ended.DoModal(), IDOK);
    EXPECT_FALSE(ended.bShown);
    EXPECT_FALSE(bTimerRan);

    // The quit reaches the outer loop too.
    CPlainDialog quit;
    quit.onInit = [](CPlainDialog&) { PostQuitMessage(10); };
    EXPECT_EQ(quit.DoModal(), IDCANCEL);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 10u);

    CTestParentWindow owner;
    EXPECT_EQ(CPlainDialog(owner.Get(), 4242).DoModal(), -1);
    EXPECT_TRUE(IsWindowEnabled(owner.Get()));
}

TEST(DocTemplate, OpensDocumentFrameAndViewRoutesCommandsAndClosesWindowsFirst)
{
    g_events.clear();
    CSingleDocTemplate docTemplate = MakeTemplate();
    CDocument* pDocument = docTemplate.OpenDocumentFile(L"http://example.com/");
    ASSERT_NE(pDocument, nullptr);
    EXPECT_EQ(g_events, (std::vector<std::string>{"open document", "initial update"}));
    EXPECT_EQ(pDocument->GetPathName(), L"http://example.com/");
    CFrameWindow* pFrame = docTemplate.GetFrame();
    ASSERT_NE(pFrame, nullptr);
    EXPECT_TRUE(IsWindowVisible(pFrame->GetSafeHwnd()));
    ASSERT_NE(pFrame->GetActiveView(), nullptr);
    EXPECT_EQ(GetParent(pFrame->GetActiveView()->GetSafeHwnd()), pFrame->GetSafeHwnd());
    EXPECT_EQ(pDocument->GetViews(), std::vector<CView*>{pFrame->GetActiveView()});
    // A second document does not replace the first.
    EXPECT_EQ(docTemplate.OpenDocumentFile(L"other"), nullptr);

    // Commands go to the view, its document, the frame, then the application.
    CTestApplication application;
    CCmdTarget::SetApplication(&application);
    g_events.clear();
    for (WPARAM nID = 2; nID <= 5; ++nID) {
        SendMessageW(pFrame->GetSafeHwnd(), WM_COMMAND, nID, 0);
    }
    CCmdTarget::SetApplication(nullptr);
    EXPECT_EQ(g_events, (std::vector<std::string>{"view command", "document command", "frame command",
                                                  "application command 5"}));

    g_events.clear();
    docTemplate.CloseDocument();
    EXPECT_EQ(g_events, (std::vector<std::string>{"view window destroyed", "frame deleted", "view deleted",
                                                  "document deleted"}));

    // A failing part leaves nothing behind.
    CSingleDocTemplate noView = MakeTemplate(true);
    EXPECT_EQ(noView.OpenDocumentFile(L"x"), nullptr);
    EXPECT_EQ(noView.GetFrame(), nullptr);
    EXPECT_EQ(FindWindowW(L"FrameworkFrame", nullptr), nullptr);
    CSingleDocTemplate unopenable = MakeTemplate();
    EXPECT_EQ(unopenable.OpenDocumentFile(L"unopenable"), nullptr);
    EXPECT_EQ(unopenable.GetDocument(), nullptr);
}
