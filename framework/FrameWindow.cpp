#include "framework/FrameWindow.h"

#include <algorithm>

#include "framework/WinThread.h"

namespace {

const wchar_t kFrameClassName[] = L"FrameworkFrame";

}  // namespace

CFrameWindow::~CFrameWindow()
{
    // The views are children: their windows must go while they still exist.
    DestroyWindow();
}

bool CFrameWindow::LoadFrame(UINT nIDResource, DWORD dwStyle, HWND hWndParent, CCreateContext* pContext)
{
    const wchar_t* pszClassName = GetClassName();
    if (!RegisterWindowClass(pszClassName, CS_DBLCLKS, LoadCursorW(nullptr, IDC_ARROW), nullptr, nullptr)) {
        return false;
    }
    HMODULE hModule = GetModuleHandleW(nullptr);
    m_hAccelerators = LoadAcceleratorsW(hModule, MAKEINTRESOURCEW(nIDResource));
    m_icon.reset(static_cast<HICON>(LoadImageW(hModule, MAKEINTRESOURCEW(nIDResource), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
    m_smallIcon.reset(static_cast<HICON>(LoadImageW(hModule, MAKEINTRESOURCEW(nIDResource), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
    m_pCreateContext = pContext;
    const bool bCreated = CreateEx(0, pszClassName, GetInitialTitle(), dwStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, hWndParent, 0);
    m_pCreateContext = nullptr;
    if (!bCreated) {
        return false;
    }
    if (m_icon) {
        SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon.get()));
    }
    if (m_smallIcon) {
        SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon.get()));
    }
    return true;
}

void CFrameWindow::InitialUpdateFrame(bool bMakeVisible)
{
    for (const auto& pView : m_views) {
        pView->OnInitialUpdate();
    }
    if (bMakeVisible && GetSafeHwnd() != nullptr) {
        ShowWindow(GetSafeHwnd(), GetShowCommand());
        UpdateWindow(GetSafeHwnd());
    }
}

void CFrameWindow::SetActiveView(CView* pView)
{
    if (pView == m_pActiveView) {
        return;
    }
    CView* pOld = m_pActiveView;
    m_pActiveView = pView;
    if (pOld != nullptr) {
        pOld->OnActivateView(false);
    }
    RecalcLayout();
    if (pView != nullptr) {
        pView->OnActivateView(true);
    }
}

CView* CFrameWindow::CreateView(const std::function<std::unique_ptr<CView>()>& factory, CDocument* pDocument,
                                UINT nId)
{
    std::unique_ptr<CView> pView = factory ? factory() : nullptr;
    if (pView == nullptr || !pView->Create(*this, pDocument, nId)) {
        return nullptr;
    }
    m_views.push_back(std::move(pView));
    return m_views.back().get();
}

bool CFrameWindow::DestroyView(CView* pView)
{
    if (pView == nullptr || pView == m_pActiveView) {
        return false;
    }
    const auto at = std::find_if(m_views.begin(), m_views.end(), [pView](const auto& p) { return p.get() == pView; });
    if (at == m_views.end()) {
        return false;
    }
    // The window goes while the object still exists to handle its messages.
    pView->DestroyWindow();
    m_views.erase(at);
    return true;
}

void CFrameWindow::RecalcLayout()
{
    if (GetSafeHwnd() == nullptr || m_pActiveView == nullptr || m_pActiveView->GetSafeHwnd() == nullptr) {
        return;
    }
    RECT rc = {};
    GetClientRect(GetSafeHwnd(), &rc);
    MoveWindow(m_pActiveView->GetSafeHwnd(), rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
}

BOOL CFrameWindow::PreTranslateMessage(MSG* pMsg)
{
    HWND hWnd = GetSafeHwnd();
    if (hWnd == nullptr || (pMsg->hwnd != hWnd && !IsChild(hWnd, pMsg->hwnd))) {
        return FALSE;
    }
    // The frame's keys come before those of whatever control has the focus,
    // so that an embedded control cannot take the window's own shortcuts.
    if (m_hAccelerators != nullptr && TranslateAcceleratorW(hWnd, m_hAccelerators, pMsg)) {
        return TRUE;
    }
    return m_pActiveView != nullptr && m_pActiveView->PreTranslateMessage(pMsg);
}

bool CFrameWindow::OnCmdMsg(UINT nID)
{
    if (m_pActiveView != nullptr && m_pActiveView->OnCmdMsg(nID)) {
        return true;
    }
    if (OnCommand(nID)) {
        return true;
    }
    CCmdTarget* pApplication = CCmdTarget::GetApplication();
    return pApplication != nullptr && pApplication != this && pApplication->OnCmdMsg(nID);
}

const wchar_t* CFrameWindow::GetClassName() const
{
    return kFrameClassName;
}

bool CFrameWindow::OnCreateClient(CCreateContext* pContext)
{
    if (pContext == nullptr || !pContext->viewFactory) {
        return true;
    }
    CView* pView = CreateView(pContext->viewFactory, pContext->pDocument, kFirstViewId);
    if (pView == nullptr) {
        return false;
    }
    SetActiveView(pView);
    return true;
}

int CFrameWindow::OnCreate(const CREATESTRUCTW& cs)
{
    (void)cs;
    return OnCreateClient(m_pCreateContext) ? 0 : -1;
}

void CFrameWindow::OnSize(UINT nType, int cx, int cy)
{
    (void)cx;
    (void)cy;
    if (nType != SIZE_MINIMIZED) {
        RecalcLayout();
    }
}

bool CFrameWindow::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    switch (uMsg) {
    case WM_SETFOCUS:
        if (m_pActiveView != nullptr && m_pActiveView->GetSafeHwnd() != nullptr) {
            SetFocus(m_pActiveView->GetSafeHwnd());
            lResult = 0;
            return true;
        }
        return false;
    case WM_COMMAND:
        // Menus and accelerators send no control handle; controls send their
        // own notifications, which are theirs to route.
        if (lParam == 0 && OnCmdMsg(LOWORD(wParam))) {
            lResult = 0;
            return true;
        }
        return false;
    default:
        return false;
    }
}

void CFrameWindow::PostNcDestroy()
{
    CWinThread* pThread = CWinThread::GetCurrent();
    if (pThread != nullptr && pThread->GetMainWnd() == this) {
        pThread->SetMainWnd(nullptr);
        PostQuitMessage(0);
    }
}
