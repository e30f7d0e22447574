#include "shell/MSDIThread.h"

#include <gtest/gtest.h>

#include <urlmon.h>

#include <thread>

#include "framework/ComPtr.h"
#include "framework/Handles.h"
#include "resources/Resource.h"
#include "shell/AutomationObject.h"
#include "shell/MainFrame.h"
#include "shell/OpenAddressDlg.h"
#include "shell/SecurityFeatures.h"
#include "tests/shell/ShellTestSupport.h"
#include "tests/support/Printers.h"
#include "tests/support/WindowCapture.h"
#include "tests/support/WindowThreadCall.h"

namespace {

class WindowThread : public ::testing::Test {
protected:
    void TearDown() override
    {
        manager.EndAllThreads();
        pump.PumpFor(50);
    }

    HWND OpenWindow(const CString& strUrl)
    {
        const int nStarted = pump.Started();
        manager.OpenDocumentFile(strUrl);
        EXPECT_TRUE(pump.PumpUntil([&] { return pump.Started() == nStarted + 1; }));
        return manager.GetMainWindows().back();
    }

    CTempFolder folder;
    CTestPage page = WriteTestPage(folder, L"window.html");
    CTestPage typed = WriteTestPage(folder, L"typed.html");
    CTestThreadManager manager;
    CAppThreadPump pump{manager};
};

bool TabOpenMutexExists()
{
    CHandle hMutex(OpenMutexW(SYNCHRONIZE, FALSE, CMainFrame::kTabOpenMutexName));
    return hMutex.valid();
}

// The Open dialog that a window thread shows, once it is up.
HWND FindOpenDialog(HWND hOwner)
{
    HWND hDialog = nullptr;
    PumpMessagesUntil(
        [&] {
            hDialog = FindWindowW(L"#32770", L"Open");
            return hDialog != nullptr && IsWindowVisible(hDialog);
        },
        10000);
    return hDialog != nullptr && GetWindow(hDialog, GW_OWNER) == hOwner ? hDialog : nullptr;
}

}  // namespace

TEST_F(WindowThread, SwitchesOnTheSecurityFeaturesAndLeavesTheOthers)
{
    const INTERNETFEATURELIST untouched[] = {FEATURE_WEBOC_POPUPMANAGEMENT, FEATURE_LOCALMACHINE_LOCKDOWN,
                                             FEATURE_SECURITYBAND, FEATURE_RESTRICT_ACTIVEXINSTALL};
    for (INTERNETFEATURELIST feature : SecurityFeatures()) {
        ASSERT_EQ(CoInternetSetFeatureEnabled(feature, SET_FEATURE_ON_PROCESS, FALSE), S_OK);
        ASSERT_EQ(CoInternetIsFeatureEnabled(feature, GET_FEATURE_FROM_PROCESS), S_FALSE);
    }
    std::vector<HRESULT> before;
    for (INTERNETFEATURELIST feature : untouched) {
        before.push_back(CoInternetIsFeatureEnabled(feature, GET_FEATURE_FROM_PROCESS));
    }

    OpenWindow(page.strUrl);

    for (INTERNETFEATURELIST feature : SecurityFeatures()) {
        EXPECT_EQ(CoInternetIsFeatureEnabled(feature, GET_FEATURE_FROM_PROCESS), S_OK) << "feature " << feature;
    }
    for (size_t i = 0; i < std::size(untouched); ++i) {
        EXPECT_EQ(CoInternetIsFeatureEnabled(untouched[i], GET_FEATURE_FROM_PROCESS), before[i])
            << "feature " << untouched[i];
    }
}

TEST_F(WindowThread, HoldsTheTabOpenMutexWhileAWindowHasATab)
{
    ASSERT_FALSE(TabOpenMutexExists());
    const HWND hFirst = OpenWindow(page.strUrl);
    OpenWindow(page.strUrl);
    EXPECT_TRUE(TabOpenMutexExists());

    PostMessageW(hFirst, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pump.PumpUntil([&] { return manager.GetThreadCount() == 1; }));
    EXPECT_TRUE(TabOpenMutexExists());

    manager.EndAllThreads();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(TabOpenMutexExists());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(WindowThread, RegistersTheAutomationClassObjectOnItsApartment)
{
    const HWND hWnd = OpenWindow(page.strUrl);
    HRESULT hrCreate = E_FAIL;
    ASSERT_TRUE(RunOnWindowThread(hWnd, [&] {
        CComPtr<IDispatch> pObject;
        hrCreate = CoCreateInstance(CAutomationObject::kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                    pObject.put_void());
    }));
    EXPECT_EQ(hrCreate, S_OK);
}

TEST_F(WindowThread, OpenAsksForAnAddressAndOpensItInTheSameWindow)
{
    // On the application thread there is no window to ask from.
    manager.OnFileOpen();

    const HWND hWnd = OpenWindow(page.strUrl);
    for (const bool bConfirm : {false, true}) {
        std::thread command([&] { RunOnWindowThread(hWnd, [&] { manager.OnFileOpen(); }, 60000); });
        const HWND hDialog = FindOpenDialog(hWnd);
        ASSERT_NE(hDialog, nullptr);
        wchar_t szText[256] = {};
        GetDlgItemTextW(hDialog, IDC_OPEN_ADDRESS_TEXT, szText, 256);
        EXPECT_STREQ(szText, L"Type the Intenet address of a document or folder and Nulvane will open it for you.");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hDialog, IDOK)));
        SetDlgItemTextW(hDialog, IDC_OPEN_ADDRESS_EDIT, L"  " + typed.strUrl + L" ");
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hDialog, IDOK)));
        PostMessageW(hDialog, WM_COMMAND, bConfirm ? IDOK : IDCANCEL, 0);
        command.join();
        EXPECT_FALSE(IsWindow(hDialog));
        if (!bConfirm) {
            pump.PumpFor(100);
            EXPECT_GE(LocationOf(hWnd).Find(L"window.html"), 0);
        }
    }
    EXPECT_TRUE(pump.PumpUntil([&] { return LocationOf(hWnd).Find(L"typed.html") >= 0; }, 10000));
    EXPECT_EQ(manager.GetThreadCount(), 1u);
}

TEST(OpenAddressDialog, BrowseFiltersComeInPairsEndedByTwoZeros)
{
    EXPECT_EQ(COpenAddressDlg::MakeFilterList(L"HTML|*.htm|All|*.*|"),
              std::wstring(L"HTML\0*.htm\0All\0*.*\0\0", 20));
    EXPECT_EQ(COpenAddressDlg::MakeFilterList(L"HTML|*.htm|All"), std::wstring(L"HTML\0*.htm\0\0", 12));
    EXPECT_EQ(COpenAddressDlg::MakeFilterList(L"HTML"), std::wstring());
    EXPECT_EQ(COpenAddressDlg::MakeFilterList(L"|||"), std::wstring());
    EXPECT_EQ(COpenAddressDlg::MakeFilterList(L""), std::wstring());
    // The system's string is missing under this platform: ours stands in.
    EXPECT_FALSE(COpenAddressDlg::MakeFilterList(COpenAddressDlg::LoadBrowseFilter()).empty());
}

TEST_F(WindowThread, ABrowsingWindowFillsTheScreen)
{
    const HWND hWnd = OpenWindow(page.strUrl);
    ASSERT_TRUE(pump.PumpUntil([&] { return LocationOf(hWnd).Find(L"window.html") >= 0; }, 10000));
    pump.PumpFor(500);
    EXPECT_TRUE(IsZoomed(hWnd));
    wchar_t szTitle[64] = {};
    GetWindowTextW(hWnd, szTitle, 64);
    EXPECT_STREQ(szTitle, L"Nulvane");
}
