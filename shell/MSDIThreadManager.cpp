#include "shell/MSDIThreadManager.h"

#include <algorithm>

#include "framework/Handles.h"
#include "framework/Logger.h"
#include "shell/FrameUrlMessage.h"
#include "shell/MSDIThread.h"
#include "shell/MainFrame.h"
#include "shell/NewWindowHandOff.h"
#include "shell/OpenAddressDlg.h"
#include "shell/ShellMessages.h"

namespace {

// A thread that has only just started may have no message queue yet, and a
// message posted to it would be lost: retry until it has one or has ended.
void PostQuitToThread(DWORD dwThreadId, HANDLE hThread)
{
    while (!PostThreadMessageW(dwThreadId, WM_QUIT, 0, 0)) {
        if (WaitForSingleObject(hThread, 10) != WAIT_TIMEOUT) {
            return;
        }
    }
}

}  // namespace

CMSDIThreadManager::CMSDIThreadManager(DWORD dwAppThreadId, const CString& strDefaultUrl)
    : m_dwAppThreadId(dwAppThreadId), m_strDefaultUrl(strDefaultUrl)
{
}

CMSDIThreadManager::~CMSDIThreadManager()
{
    EndAllThreads();
}

CString CMSDIThreadManager::GetDefaultUrl() const
{
    CCriticalSectionLock lock(m_lock);
    return m_strDefaultUrl;
}

void CMSDIThreadManager::SetDefaultUrl(const CString& strUrl)
{
    CCriticalSectionLock lock(m_lock);
    m_strDefaultUrl = strUrl;
}

bool CMSDIThreadManager::GetSecureDelete() const
{
    CCriticalSectionLock lock(m_lock);
    return m_bSecureDelete;
}

void CMSDIThreadManager::SetSecureDelete(bool bSecureDelete)
{
    CCriticalSectionLock lock(m_lock);
    m_bSecureDelete = bSecureDelete;
}

size_t CMSDIThreadManager::GetThreadCount() const
{
    CCriticalSectionLock lock(m_lock);
    return m_threads.size();
}

std::vector<HWND> CMSDIThreadManager::GetMainWindows() const
{
    CCriticalSectionLock lock(m_lock);
    std::vector<HWND> windows;
    for (const CMSDIThread* pThread : m_threads) {
        windows.push_back(pThread->GetMainHwnd());
    }
    return windows;
}

CMSDIThread* CMSDIThreadManager::CreateThreadObject()
{
    return new CMSDIThread(*this);
}

CMSDIThread* CMSDIThreadManager::CurrentWindowThread() const
{
    CMSDIThread* pThread = CMSDIThread::GetCurrent();
    return pThread != nullptr && &pThread->GetManager() == this ? pThread : nullptr;
}

bool CMSDIThreadManager::StartWindowThread(const CString& strUrl, std::shared_ptr<CNewWindowHandOff> pHandOff)
{
    std::unique_ptr<CMSDIThread> pThread(CreateThreadObject());
    if (pThread == nullptr || !pThread->HasExitGate()) {
        LOG_MESSAGE(L"CMSDIThreadManager::StartWindowThread no thread object for %s", strUrl.GetString());
        return false;
    }
    pThread->SetUrl(strUrl);
    pThread->SetNewWindowRequest(pHandOff);

    CCriticalSectionLock lock(m_lock);
    if (!pThread->CreateThread()) {
        LOG_ERROR(GetLastError(), L"CMSDIThreadManager::StartWindowThread cannot start a thread for %s",
                  strUrl.GetString());
        return false;
    }
    // From here the thread owns itself; it cannot finish before this
    // manager, under this lock, has taken it off the list again.
    CMSDIThread* pStarted = pThread.release();
    if (pHandOff) {
        pHandOff->SetThreadId(pStarted->GetThreadId());
    }
    m_threads.push_back(pStarted);
    return true;
}

CDocument* CMSDIThreadManager::OpenDocumentFile(const wchar_t* pszUrl)
{
    const CString strUrl = pszUrl != nullptr ? pszUrl : L"";
    if (CMSDIThread* pThread = CurrentWindowThread(); pThread != nullptr && pThread->GetMainWnd() != nullptr) {
        if (auto* pFrame = dynamic_cast<CMainFrame*>(pThread->GetMainWnd())) {
            pFrame->GoToAddress(strUrl);
        }
        return nullptr;
    }
    StartWindowThread(strUrl);
    return nullptr;
}

bool CMSDIThreadManager::ParseDdeOpenCommand(const wchar_t* pszCommand, CString& strUrl)
{
    static constexpr wchar_t kOpenPrefix[] = L"[open(\"";
    constexpr size_t kPrefixLength = std::size(kOpenPrefix) - 1;
    if (pszCommand == nullptr || wcsncmp(pszCommand, kOpenPrefix, kPrefixLength) != 0) {
        return false;
    }
    const wchar_t* pszStart = pszCommand + kPrefixLength;
    const wchar_t* pszEnd = wcschr(pszStart, L'"');
    if (pszEnd == nullptr) {
        return false;
    }
    strUrl = CString(pszStart, static_cast<int>(pszEnd - pszStart));
    return true;
}

bool CMSDIThreadManager::OnDDECommand(const wchar_t* pszCommand)
{
    CString strUrl;
    if (!ParseDdeOpenCommand(pszCommand, strUrl)) {
        return false;
    }
    OpenDocumentFile(strUrl);
    return true;
}

void CMSDIThreadManager::OnFileNew()
{
    StartWindowThread(GetDefaultUrl());
}

void CMSDIThreadManager::OnFileOpen()
{
    CMSDIThread* pThread = CurrentWindowThread();
    if (pThread == nullptr || pThread->GetMainWnd() == nullptr) {
        return;
    }
    COpenAddressDlg dialog(pThread->GetMainHwnd());
    if (dialog.DoModal() == IDOK) {
        OpenDocumentFile(dialog.GetAddress());
    }
}

void CMSDIThreadManager::OnThreadStarted(CMSDIThread* pThread)
{
    // Nothing to do: the thread was listed when it was started. The pointer
    // is not even looked at; it may come from anybody.
    (void)pThread;
}

void CMSDIThreadManager::OnThreadEnding(CMSDIThread* pThread)
{
    CCriticalSectionLock lock(m_lock);
    auto it = std::find(m_threads.begin(), m_threads.end(), pThread);
    // Not listed: EndAllThreads took it already, or the message is not a
    // thread's. Listed but not ending: a late message about a thread that
    // is gone, whose address a new thread now has.
    if (it == m_threads.end() || !pThread->IsEnding()) {
        return;
    }
    m_threads.erase(it);
    if (m_threads.empty()) {
        if (!PostThreadMessageW(m_dwAppThreadId, WM_MSDI_CLEANUP, 1, 0)) {
            LOG_ERROR(GetLastError(), L"CMSDIThreadManager::OnThreadEnding cannot post the clean-up");
        }
    }
    CHandle hThread = pThread->DetachThreadHandle();
    pThread->OpenExitGate();
    // The thread object may be gone from here on.
    WaitForSingleObject(hThread.get(), INFINITE);
}

bool CMSDIThreadManager::HandleThreadMessage(const MSG& msg)
{
    if (msg.hwnd != nullptr) {
        return false;
    }
    switch (msg.message) {
    case WM_MSDI_THREAD_STARTED:
        OnThreadStarted(reinterpret_cast<CMSDIThread*>(msg.wParam));
        return true;
    case WM_MSDI_THREAD_ENDING:
        OnThreadEnding(reinterpret_cast<CMSDIThread*>(msg.wParam));
        return true;
    default:
        return false;
    }
}

void CMSDIThreadManager::OpenInMostRecentWindow(const CString& strUrl)
{
    CCriticalSectionLock lock(m_lock);
    // The newest window may still be starting, or just gone: the next
    // newest then takes the URL.
    for (auto it = m_threads.rbegin(); it != m_threads.rend(); ++it) {
        HWND hWnd = (*it)->GetMainHwnd();
        if (hWnd != nullptr && CFrameUrlMessage::Post(hWnd, strUrl, 1)) {
            return;
        }
    }
    LOG_MESSAGE(L"CMSDIThreadManager::OpenInMostRecentWindow no window for %s", strUrl.GetString());
}

void CMSDIThreadManager::PostToAllFrames(UINT uMsg) const
{
    CCriticalSectionLock lock(m_lock);
    for (const CMSDIThread* pThread : m_threads) {
        if (HWND hWnd = pThread->GetMainHwnd()) {
            PostMessageW(hWnd, uMsg, 0, 0);
        }
    }
}

void CMSDIThreadManager::CloseAllWindows()
{
    PostToAllFrames(WM_CLOSE);
}

void CMSDIThreadManager::BroadcastDefaultSet()
{
    PostToAllFrames(WM_FRAME_DEFAULT_SET);
}

void CMSDIThreadManager::BroadcastBoss()
{
    PostToAllFrames(WM_FRAME_BOSS);
}

void CMSDIThreadManager::EndAllThreads()
{
    for (;;) {
        std::vector<CHandle> owned;
        {
            CCriticalSectionLock lock(m_lock);
            if (m_threads.empty()) {
                return;
            }
            const size_t nBatch = std::min(m_threads.size(), kEndBatchSize);
            for (size_t i = 0; i < nBatch; ++i) {
                CMSDIThread* pThread = m_threads.front();
                m_threads.erase(m_threads.begin());
                const DWORD dwThreadId = pThread->GetThreadId();
                CHandle hThread = pThread->DetachThreadHandle();
                pThread->OpenExitGate();
                // The thread object may be gone from here on; its id stays
                // its own while we hold its handle.
                PostQuitToThread(dwThreadId, hThread.get());
                owned.push_back(std::move(hThread));
            }
        }
        std::vector<HANDLE> handles;
        for (const CHandle& hThread : owned) {
            handles.push_back(hThread.get());
        }
        WaitForThreads(handles);
    }
}

void CMSDIThreadManager::WaitForThreads(const std::vector<HANDLE>& handles)
{
    if (!handles.empty()) {
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
    }
}

bool CMSDIThreadManager::RequestNewWindow(IDispatch** ppDisp)
{
    if (ppDisp == nullptr) {
        return false;
    }
    *ppDisp = nullptr;
    auto pHandOff = std::make_shared<CNewWindowHandOff>();
    if (!StartWindowThread(CString(), pHandOff)) {
        return false;
    }
    if (!pHandOff->Wait(m_dwHandOffTimeoutMs, kHandOffSliceMs)) {
        LOG_MESSAGE(L"CMSDIThreadManager::RequestNewWindow the new window did not answer within %u ms",
                    static_cast<unsigned>(m_dwHandOffTimeoutMs));
    }
    const HRESULT hr = pHandOff->TakeOrCancel(ppDisp);
    if (FAILED(hr)) {
        LOG_ERROR(static_cast<DWORD>(hr), L"CMSDIThreadManager::RequestNewWindow cancelled");
        return false;
    }
    return true;
}
