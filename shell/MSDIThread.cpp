#include "shell/MSDIThread.h"

#include "framework/Logger.h"
#include "resources/Resource.h"
#include "shell/AutomationObject.h"
#include "shell/MSDIThreadManager.h"
#include "shell/MainFrame.h"
#include "shell/NewWindowHandOff.h"
#include "shell/QuelmarSMDIDoc.h"
#include "shell/QuelmarSMDIView.h"
#include "shell/SecurityFeatures.h"
#include "shell/ShellMessages.h"

CMSDIThread::CMSDIThread(CMSDIThreadManager& manager)
    : m_manager(manager),
      // Manual reset, created closed.
      m_hExitGate(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

CMSDIThread::~CMSDIThread() = default;

void CMSDIThread::SetNewWindowRequest(std::shared_ptr<CNewWindowHandOff> pHandOff)
{
    m_pHandOff = std::move(pHandOff);
    m_bNewWindowRequest = m_pHandOff != nullptr;
}

bool CMSDIThread::PublishNewWindow(IDispatch* pBrowser)
{
    if (!m_bNewWindowRequest) {
        return false;
    }
    m_bNewWindowRequest = false;
    return m_pHandOff->Publish(pBrowser);
}

void CMSDIThread::OpenExitGate()
{
    SetEvent(m_hExitGate.get());
}

CMSDIThread* CMSDIThread::GetCurrent()
{
    return dynamic_cast<CMSDIThread*>(CWinThread::GetCurrent());
}

std::unique_ptr<CSingleDocTemplate> CMSDIThread::CreateDocTemplate()
{
    return std::make_unique<CSingleDocTemplate>(
        IDR_MAINFRAME, [] { return std::make_unique<CQuelmarSMDIDoc>(); },
        [] { return std::make_unique<CMainFrame>(); }, [] { return std::make_unique<CQuelmarSMDIView>(); });
}

BOOL CMSDIThread::InitInstance()
{
    m_pOle = std::make_unique<COleInitializer>();
    if (!m_pOle->Succeeded()) {
        LOG_ERROR(static_cast<DWORD>(m_pOle->Result()), L"CMSDIThread::InitInstance cannot initialise OLE");
    }

    m_pDocManager = std::make_unique<CDocManager>();
    m_pDocManager->AddDocTemplate(CreateDocTemplate());
    if (m_strUrl.IsEmpty()) {
        m_pDocManager->OnFileNew();
    } else {
        m_pDocManager->OpenDocumentFile(m_strUrl);
    }
    if (GetMainWnd() == nullptr) {
        LOG_MESSAGE(L"CMSDIThread::InitInstance no window could be created");
        return FALSE;
    }
    BringMainWindowForward();

    const CComPtr<IClassFactory> pFactory = [] {
        CComPtr<IClassFactory> p;
        p.Attach(CAutomationObject::CreateClassFactory());
        return p;
    }();
    const HRESULT hr =
        m_classObject.Register(CAutomationObject::kClsid, pFactory.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE);
    if (FAILED(hr)) {
        LOG_ERROR(static_cast<DWORD>(hr), L"CMSDIThread::InitInstance cannot register the class object");
    }

    EnableSecurityFeatures();

    if (!PostThreadMessageW(m_manager.GetAppThreadId(), WM_MSDI_THREAD_STARTED, reinterpret_cast<WPARAM>(this), 0)) {
        LOG_ERROR(GetLastError(), L"CMSDIThread::InitInstance cannot tell the application thread");
    }
    return TRUE;
}

void CMSDIThread::BringMainWindowForward()
{
    HWND hWnd = GetMainHwnd();
    if (IsIconic(hWnd)) {
        ShowWindow(hWnd, SW_RESTORE);
    }
    SetForegroundWindow(hWnd);
    if (GetForegroundWindow() != hWnd) {
        SwitchToThisWindow(hWnd, TRUE);
    }
    if (IsIconic(hWnd)) {
        ShowWindow(hWnd, SW_RESTORE);
    }
}

int CMSDIThread::ExitInstance()
{
    if (CWindow* pMainWnd = GetMainWnd()) {
        pMainWnd->DestroyWindow();
    }
    m_pDocManager.reset();
    m_classObject.Revoke();

    // From here on this thread must not take the manager's lock: the
    // application thread holds it while it waits for this thread to end.
    m_bEnding.store(true);
    if (m_pHandOff) {
        m_pHandOff->MarkThreadEnded();
    }
    if (!PostThreadMessageW(m_manager.GetAppThreadId(), WM_MSDI_THREAD_ENDING, reinterpret_cast<WPARAM>(this), 0)) {
        LOG_ERROR(GetLastError(), L"CMSDIThread::ExitInstance cannot tell the application thread");
    }
    WaitForSingleObject(m_hExitGate.get(), INFINITE);

    m_pOle.reset();
    return CWinThread::ExitInstance();
}

void CMSDIThread::OnUnhandledException(const wchar_t* pszWhere) noexcept
{
    try {
        LOG_MESSAGE(L"CMSDIThread: exception stopped in %s", pszWhere);
    } catch (...) {
    }
}
