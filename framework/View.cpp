#include "framework/View.h"

#include "framework/Document.h"
#include "framework/FrameWindow.h"

namespace {

const wchar_t kViewClassName[] = L"FrameworkView";

}  // namespace

CView::~CView()
{
    if (m_pDocument != nullptr) {
        m_pDocument->RemoveView(this);
    }
}

bool CView::Create(CFrameWindow& frame, CDocument* pDocument, UINT nId)
{
    // A view that wants other class settings registers its class first:
    // the first registration of a name stands.
    const wchar_t* pszClassName = GetClassName();
    if (!RegisterWindowClass(pszClassName, CS_DBLCLKS, LoadCursorW(nullptr, IDC_ARROW), nullptr, nullptr)) {
        return false;
    }
    m_pFrame = &frame;
    m_pDocument = pDocument;
    RECT rc = {};
    GetClientRect(frame.GetSafeHwnd(), &rc);
    if (!CreateEx(0, pszClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, rc.left, rc.top,
                  rc.right - rc.left, rc.bottom - rc.top, frame.GetSafeHwnd(), nId)) {
        m_pDocument = nullptr;
        return false;
    }
    if (m_pDocument != nullptr) {
        m_pDocument->AddView(this);
    }
    return true;
}

bool CView::OnCmdMsg(UINT nID)
{
    return m_pDocument != nullptr && m_pDocument->OnCmdMsg(nID);
}

const wchar_t* CView::GetClassName() const
{
    return kViewClassName;
}

void CView::OnDestroy()
{
    if (m_pDocument != nullptr) {
        m_pDocument->RemoveView(this);
        m_pDocument = nullptr;
    }
}
