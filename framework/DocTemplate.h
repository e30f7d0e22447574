#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "framework/Document.h"
#include "framework/FrameWindow.h"
#include "framework/View.h"

// Pairs one document with its frame and first view, each made by a factory:
// opening creates the document, the frame and the view, gives the view its
// initial update and shows the frame. It holds one document at a time and
// owns it and its frame.
class CSingleDocTemplate {
public:
    using DocumentFactory = std::function<std::unique_ptr<CDocument>()>;
    using FrameFactory = std::function<std::unique_ptr<CFrameWindow>()>;
    using ViewFactory = std::function<std::unique_ptr<CView>()>;

    // nIDResource names the frame's icon and accelerators.
    CSingleDocTemplate(UINT nIDResource, DocumentFactory documentFactory, FrameFactory frameFactory,
                       ViewFactory viewFactory, DWORD dwFrameStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN);
    ~CSingleDocTemplate();
    CSingleDocTemplate(const CSingleDocTemplate&) = delete;
    CSingleDocTemplate& operator=(const CSingleDocTemplate&) = delete;

    // Null path: a new, empty document. Returns the document, or null when
    // any part could not be made or a document is already open. The first
    // frame of a thread without a main window becomes its main window.
    CDocument* OpenDocumentFile(const wchar_t* pszPathName, bool bMakeVisible = true);
    // Destroys the frame's window (while every object still exists), then
    // the frame and the document.
    void CloseDocument();

    CDocument* GetDocument() const { return m_pDocument.get(); }
    CFrameWindow* GetFrame() const { return m_pFrame.get(); }
    UINT GetResourceId() const { return m_nIDResource; }

private:
    UINT m_nIDResource;
    DocumentFactory m_documentFactory;
    FrameFactory m_frameFactory;
    ViewFactory m_viewFactory;
    DWORD m_dwFrameStyle;
    std::unique_ptr<CDocument> m_pDocument;
    std::unique_ptr<CFrameWindow> m_pFrame;
};
