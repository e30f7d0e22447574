#include "framework/DocTemplate.h"

#include "framework/WinThread.h"

CSingleDocTemplate::CSingleDocTemplate(UINT nIDResource, DocumentFactory documentFactory, FrameFactory frameFactory,
                                       ViewFactory viewFactory, DWORD dwFrameStyle)
    : m_nIDResource(nIDResource),
      m_documentFactory(std::move(documentFactory)),
      m_frameFactory(std::move(frameFactory)),
      m_viewFactory(std::move(viewFactory)),
      m_dwFrameStyle(dwFrameStyle)
{
}

CSingleDocTemplate::~CSingleDocTemplate()
{
    CloseDocument();
}

CDocument* CSingleDocTemplate::OpenDocumentFile(const wchar_t* pszPathName, bool bMakeVisible)
{
    if (m_pDocument != nullptr || !m_documentFactory || !m_frameFactory) {
        return nullptr;
    }
    std::unique_ptr<CDocument> pDocument = m_documentFactory();
    if (pDocument == nullptr) {
        return nullptr;
    }
    if (pszPathName == nullptr) {
        if (!pDocument->OnNewDocument()) {
            return nullptr;
        }
    } else {
        if (!pDocument->OnOpenDocument(pszPathName)) {
            return nullptr;
        }
        pDocument->SetPathName(pszPathName);
    }

    std::unique_ptr<CFrameWindow> pFrame = m_frameFactory();
    if (pFrame == nullptr) {
        return nullptr;
    }
    CCreateContext context;
    context.pDocument = pDocument.get();
    context.viewFactory = m_viewFactory;
    if (!pFrame->LoadFrame(m_nIDResource, m_dwFrameStyle, nullptr, &context)) {
        return nullptr;
    }
    m_pDocument = std::move(pDocument);
    m_pFrame = std::move(pFrame);

    CWinThread* pThread = CWinThread::GetCurrent();
    if (pThread != nullptr && pThread->GetMainWnd() == nullptr) {
        pThread->SetMainWnd(m_pFrame.get());
    }
    m_pFrame->InitialUpdateFrame(bMakeVisible);
    return m_pDocument.get();
}

void CSingleDocTemplate::CloseDocument()
{
    if (m_pFrame != nullptr) {
        m_pFrame->DestroyWindow();
    }
    m_pFrame.reset();
    m_pDocument.reset();
}
