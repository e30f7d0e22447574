#pragma once

#include "framework/Window.h"

class CDocument;
class CFrameWindow;

// A child window of a frame that shows a document.
class CView : public CWindow {
public:
    CView() = default;
    ~CView() override;

    // Creates the window as a child of the frame and joins the document.
    [[nodiscard]] virtual bool Create(CFrameWindow& frame, CDocument* pDocument, UINT nId);

    // Once, after the frame and its first view exist and before the frame
    // is shown.
    virtual void OnInitialUpdate() {}
    // The frame made this view the active one, or another one.
    virtual void OnActivateView(bool bActivate)
    {
        (void)bActivate;
    }

    CDocument* GetDocument() const { return m_pDocument; }
    CFrameWindow* GetParentFrame() const { return m_pFrame; }

    bool OnCmdMsg(UINT nID) override;

protected:
    // The window class of views; derived views may register their own.
    virtual const wchar_t* GetClassName() const;
    void OnDestroy() override;

private:
    CDocument* m_pDocument = nullptr;
    CFrameWindow* m_pFrame = nullptr;
};
