#include "shell/NewWindowHandOff.h"

#include <algorithm>

CNewWindowHandOff::CNewWindowHandOff() : m_hSignal(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void CNewWindowHandOff::SetThreadId(DWORD dwThreadId)
{
    CCriticalSectionLock lock(m_lock);
    m_dwThreadId = dwThreadId;
}

bool CNewWindowHandOff::Publish(IDispatch* pBrowser)
{
    if (pBrowser == nullptr) {
        return false;
    }
    CComPtr<IStream> pStream;
    if (FAILED(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, pBrowser, pStream.put()))) {
        return false;
    }
    {
        CCriticalSectionLock lock(m_lock);
        if (!m_bCancelled && !m_pStream) {
            m_pStream = std::move(pStream);
            SetEvent(m_hSignal.get());
            return true;
        }
    }
    // Nobody will unmarshal it: free what the marshalling holds.
    LARGE_INTEGER zero = {};
    pStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    CoReleaseMarshalData(pStream.get());
    return false;
}

void CNewWindowHandOff::MarkThreadEnded()
{
    CCriticalSectionLock lock(m_lock);
    m_bThreadEnded = true;
    SetEvent(m_hSignal.get());
}

bool CNewWindowHandOff::Wait(DWORD dwTimeoutMs, DWORD dwSliceMs)
{
    if (!m_hSignal) {
        return false;
    }
    const ULONGLONG ullDeadline = GetTickCount64() + dwTimeoutMs;
    HANDLE hSignal = m_hSignal.get();
    for (;;) {
        const ULONGLONG ullNow = GetTickCount64();
        if (ullNow >= ullDeadline) {
            return WaitForSingleObject(hSignal, 0) == WAIT_OBJECT_0;
        }
        const DWORD dwSlice = static_cast<DWORD>(std::min<ULONGLONG>(dwSliceMs, ullDeadline - ullNow));
        // Sent messages are handled while waiting: the new window's thread
        // may send to this thread's windows (activation) while it starts.
        const DWORD dwResult = MsgWaitForMultipleObjectsEx(1, &hSignal, dwSlice, QS_SENDMESSAGE, 0);
        if (dwResult == WAIT_OBJECT_0) {
            return true;
        }
        if (dwResult == WAIT_FAILED) {
            return false;
        }
        // Peeking delivers pending sent messages; a quit posted to this
        // thread (the session is ending) stops the wait, and stays queued.
        MSG msg;
        if (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) {
            return false;
        }
    }
}

HRESULT CNewWindowHandOff::TakeOrCancel(IDispatch** ppDisp)
{
    if (ppDisp == nullptr) {
        return E_POINTER;
    }
    *ppDisp = nullptr;
    CComPtr<IStream> pStream;
    {
        CCriticalSectionLock lock(m_lock);
        if (!m_pStream) {
            CancelLocked();
            return E_ABORT;
        }
        pStream = std::move(m_pStream);
    }
    // Releases the stream whatever the result.
    const HRESULT hr = CoGetInterfaceAndReleaseStream(pStream.Detach(), IID_IDispatch, reinterpret_cast<void**>(ppDisp));
    if (FAILED(hr)) {
        *ppDisp = nullptr;
        CCriticalSectionLock lock(m_lock);
        CancelLocked();
    }
    return hr;
}

void CNewWindowHandOff::CancelLocked()
{
    m_bCancelled = true;
    // Under the lock, the new thread cannot get past MarkThreadEnded: while
    // it has not, its id is still its own.
    if (!m_bThreadEnded && m_dwThreadId != 0) {
        PostThreadMessageW(m_dwThreadId, WM_QUIT, 0, 0);
    }
}
