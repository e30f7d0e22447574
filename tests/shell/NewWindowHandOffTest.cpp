#include "shell/NewWindowHandOff.h"

#include <gtest/gtest.h>

#include <exdisp.h>

#include "framework/ComPtr.h"
#include "shell/AutomationObject.h"
#include "shell/MSDIThread.h"
#include "shell/QuelmarSMDIView.h"
#include "tests/shell/ShellTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/WindowThreadCall.h"

namespace {

CComPtr<IDispatch> NewAutomationObject()
{
    CComPtr<IClassFactory> pFactory;
    pFactory.Attach(CAutomationObject::CreateClassFactory());
    CComPtr<IDispatch> pObject;
    EXPECT_EQ(pFactory->CreateInstance(nullptr, IID_IDispatch, pObject.put_void()), S_OK);
    return pObject;
}

class NewWindow : public ::testing::Test {
protected:
    void TearDown() override
    {
        manager.EndAllThreads();
        pump.PumpFor(50);
    }

    COleInitializer ole;
    CTempFolder folder;
    CTestPage pageA = WriteTestPage(folder, L"first.html");
    CTestPage pageB = WriteTestPage(folder, L"second.html");
    CTestThreadManager manager;
    CAppThreadPump pump{manager};
};

}  // namespace

TEST(NewWindowHandOffState, RefusesAPublicationAfterTheRequesterGaveUp)
{
    COleInitializer ole;
    CComPtr<IDispatch> pBrowser = NewAutomationObject();

    // Nothing published: cancelled, and a publication after that is refused.
    CComPtr<IDispatch> pReceived;
    CNewWindowHandOff cancelled;
    EXPECT_FALSE(cancelled.Wait(30, 10));
    EXPECT_EQ(cancelled.TakeOrCancel(pReceived.put()), E_ABORT);
    EXPECT_FALSE(pReceived);
    EXPECT_FALSE(cancelled.Publish(pBrowser.get()));
}

TEST_F(NewWindow, ANewWindowHandsItsBrowserToTheRequestingView)
{
    manager.OpenDocumentFile(pageA.strUrl);
    ASSERT_TRUE(pump.PumpUntil([&] { return pump.Started() == 1; }));
    const HWND hFirst = manager.GetMainWindows()[0];

    CLogCapture log;
    bool bCreated = false;
    HRESULT hrNavigate = E_FAIL;
    // On the requesting window's thread, as inside its control's event; the
    // browser received is a proxy into the new window's thread.
    ASSERT_TRUE(RunOnWindowThread(hFirst, [&] {
        CComPtr<IDispatch> pDisp;
        bCreated = BrowserViewOf(hFirst)->CreateNewWindow(pDisp.put());
        CComPtr<IWebBrowser2> pBrowser;
        if (bCreated && SUCCEEDED(pDisp.QueryInterface(pBrowser))) {
            CBstr bstrUrl(pageB.strUrl);
            CVariant empty;
            hrNavigate = pBrowser->Navigate(bstrUrl.get(), empty.get(), empty.get(), empty.get(), empty.get());
        }
    }));
    EXPECT_TRUE(bCreated);
    EXPECT_EQ(hrNavigate, S_OK);
    EXPECT_EQ(log.CountMessage(L"CQuelmarSMDIView::CreateNewWindow start"), 1);
    EXPECT_EQ(log.CountMessage(L"CQuelmarSMDIView::CreateNewWindow end, returning true"), 1);

    ASSERT_TRUE(pump.PumpUntil([&] { return pump.Started() == 2; }));
    const HWND hSecond = manager.GetMainWindows()[1];
    EXPECT_TRUE(pump.PumpUntil([&] { return LocationOf(hSecond).Find(L"second.html") >= 0; }, 10000));
    EXPECT_GE(LocationOf(hFirst).Find(L"first.html"), 0);
    bool bStillRequest = true;
    RunOnWindowThread(hSecond, [&] { bStillRequest = CMSDIThread::GetCurrent()->IsNewWindowRequest(); });
    EXPECT_FALSE(bStillRequest);
}

TEST_F(NewWindow, AWindowThatNeverPublishesIsCancelledWithinTheBound)
{
    manager.OpenDocumentFile(pageA.strUrl);
    ASSERT_TRUE(pump.PumpUntil([&] { return pump.Started() == 1; }));

    manager.threadFactory = [](CMSDIThreadManager& m) { return new CFaultyWindowThread(m, false); };
    manager.SetHandOffTimeout(400);
    CComPtr<IDispatch> pDisp;
    const ULONGLONG ullStart = GetTickCount64();
    EXPECT_FALSE(manager.RequestNewWindow(pDisp.put()));
    const ULONGLONG ullElapsed = GetTickCount64() - ullStart;
    EXPECT_FALSE(pDisp);
    EXPECT_GE(ullElapsed, 350u);
    EXPECT_LT(ullElapsed, 5000u);

    // The silent window was told to go, and went: only the first is left.
    ASSERT_TRUE(pump.PumpUntil([&] { return manager.GetThreadCount() == 1 && pump.Ending() == 1; }));
    EXPECT_EQ(pump.Started(), 2);
    EXPECT_TRUE(pump.Cleanups().empty());
}

TEST_F(NewWindow, AWindowThatFailsWakesTheRequesterAtOnce)
{
    manager.threadFactory = [](CMSDIThreadManager& m) { return new CFaultyWindowThread(m, true); };
    CComPtr<IDispatch> pDisp;
    const ULONGLONG ullStart = GetTickCount64();
    EXPECT_FALSE(manager.RequestNewWindow(pDisp.put()));
    EXPECT_LT(GetTickCount64() - ullStart, 5000u);
    // The thread still reports its end; it was the only window: the
    // session ends.
    ASSERT_TRUE(pump.PumpUntil([&] { return manager.GetThreadCount() == 0; }));
    EXPECT_EQ(pump.Started(), 0);
    EXPECT_EQ(pump.Ending(), 1);
    EXPECT_EQ(pump.Cleanups(), std::vector<WPARAM>{1});
}
