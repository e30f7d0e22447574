#include "framework/DocTemplate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/Printers.h"

namespace {

std::vector<std::string> g_events;

class CTestDocument : public CDocument {
public:
    bool OnOpenDocument(const wchar_t* pszPathName) override
    {
        g_events.push_back("open document");
        return wcscmp(pszPathName, L"unopenable") != 0;
    }
    bool OnCmdMsg(UINT nID) override
    {
        if (nID == 3) {
            g_events.push_back("document command");
            return true;
        }
        return false;
    }
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
        if (nID == 2) {
            g_events.push_back("view command");
            return true;
        }
        return CView::OnCmdMsg(nID);
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
    bool OnCommand(UINT nID) override
    {
        if (nID == 4) {
            g_events.push_back("frame command");
            return true;
        }
        return false;
    }
};

class CTestApplication : public CCmdTarget {
public:
    bool OnCmdMsg(UINT nID) override
    {
        g_events.push_back("application command " + std::to_string(nID));
        return true;
    }
};

CSingleDocTemplate MakeTemplate(bool bViewFails = false)
{
    return CSingleDocTemplate(
        128, [] { return std::make_unique<CTestDocument>(); }, [] { return std::make_unique<CTestFrame>(); },
        [bViewFails]() -> std::unique_ptr<CView> {
            if (bViewFails) {
                return nullptr;
            }
            return std::make_unique<CTestView>();
        });
}

class DocTemplate : public ::testing::Test {
protected:
    void SetUp() override { g_events.clear(); }
};

}  // namespace

TEST_F(DocTemplate, OpensDocumentFrameAndViewThenClosesThemWindowsFirst)
{
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

    g_events.clear();
    docTemplate.CloseDocument();
    EXPECT_EQ(g_events, (std::vector<std::string>{"view window destroyed", "frame deleted", "view deleted",
                                                  "document deleted"}));
}

TEST_F(DocTemplate, AFailingPartLeavesNothingBehind)
{
    CSingleDocTemplate noView = MakeTemplate(true);
    EXPECT_EQ(noView.OpenDocumentFile(L"x"), nullptr);
    EXPECT_EQ(noView.GetFrame(), nullptr);
    EXPECT_EQ(FindWindowW(L"FrameworkFrame", nullptr), nullptr);

    CSingleDocTemplate unopenable = MakeTemplate();
    EXPECT_EQ(unopenable.OpenDocumentFile(L"unopenable"), nullptr);
    EXPECT_EQ(unopenable.GetDocument(), nullptr);
}

TEST_F(DocTemplate, CommandsGoToTheViewItsDocumentTheFrameThenTheApplication)
{
    CSingleDocTemplate docTemplate = MakeTemplate();
    ASSERT_NE(docTemplate.OpenDocumentFile(nullptr), nullptr);
    const HWND hFrame = docTemplate.GetFrame()->GetSafeHwnd();
    CTestApplication application;
    CCmdTarget::SetApplication(&application);
    g_events.clear();
    for (WPARAM nID = 2; nID <= 5; ++nID) {
        SendMessageW(hFrame, WM_COMMAND, nID, 0);
    }
    CCmdTarget::SetApplication(nullptr);
    EXPECT_EQ(g_events, (std::vector<std::string>{"view command", "document command", "frame command",
                                                  "application command 5"}));
}
