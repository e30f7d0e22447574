#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "framework/Handles.h"
#include "framework/View.h"
#include "framework/Window.h"

class CDocument;

// What a frame needs to make its first view: the document it shows and
// how to make a view of it.
struct CCreateContext {
    CDocument* pDocument = nullptr;
    std::function<std::unique_ptr<CView>()> viewFactory;
};

// A top-level window that holds views and lays the active one over its
// client area. It owns its views. Commands go to the active view (and its
// document), then to the frame, then to the application. When the frame is
// the main window of its thread, its destruction ends the thread's loop.
class CFrameWindow : public CWindow {
public:
    static constexpr UINT kFirstViewId = 0xE900;

    CFrameWindow() = default;
    ~CFrameWindow() override;

    // Creates the window with the icon and accelerators of the resource id
    // (either may be missing) and its first view from the context.
    [[nodiscard]] virtual bool LoadFrame(UINT nIDResource, DWORD dwStyle, HWND hWndParent, CCreateContext* pContext);
    // Gives every view its initial update, then shows the frame.
    virtual void InitialUpdateFrame(bool bMakeVisible);

    CView* GetActiveView() const { return m_pActiveView; }
    void SetActiveView(CView* pView);
    // Makes a view of the document from the factory, owned by the frame;
    // null on failure.
    CView* CreateView(const std::function<std::unique_ptr<CView>()>& factory, CDocument* pDocument, UINT nId);
    const std::vector<std::unique_ptr<CView>>& GetViews() const { return m_views; }
    // Destroys one of the frame's views, window and object; never the
    // active one.
    bool DestroyView(CView* pView);

    virtual void RecalcLayout();
    BOOL PreTranslateMessage(MSG* pMsg) override;
    bool OnCmdMsg(UINT nID) override;

protected:
    virtual const wchar_t* GetClassName() const;
    virtual const wchar_t* GetInitialTitle() const { return L""; }
    // The show command of the first InitialUpdateFrame.
    virtual int GetShowCommand() const { return SW_SHOW; }
    // Makes the first view; false fails the frame's creation.
    virtual bool OnCreateClient(CCreateContext* pContext);
    // The frame's own commands, after the active view declined.
    virtual bool OnCommand(UINT nID)
    {
        (void)nID;
        return false;
    }

    int OnCreate(const CREATESTRUCTW& cs) override;
    void OnSize(UINT nType, int cx, int cy) override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;
    void PostNcDestroy() override;

private:
    std::vector<std::unique_ptr<CView>> m_views;
    CView* m_pActiveView = nullptr;
    CCreateContext* m_pCreateContext = nullptr;
    HACCEL m_hAccelerators = nullptr;
    CIcon m_icon;
    CIcon m_smallIcon;
};
