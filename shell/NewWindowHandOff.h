#pragma once

#include <windows.h>
#include <oaidl.h>

#include "framework/ComPtr.h"
#include "framework/CriticalSection.h"
#include "framework/Handles.h"

// Where a new-window request meets the window thread started for it. The
// requesting view's thread waits here, inside the rendering control's
// event, until the new thread publishes its browser's interface (marshalled
// into a stream, the only way it may cross apartments), or ends, or the
// wait's bound passes. Both threads share this object, so neither ever
// reads the other's thread object, which may be gone.
class CNewWindowHandOff {
public:
    CNewWindowHandOff();
    CNewWindowHandOff(const CNewWindowHandOff&) = delete;
    CNewWindowHandOff& operator=(const CNewWindowHandOff&) = delete;

    // The id of the new thread, once it has started.
    void SetThreadId(DWORD dwThreadId);

    // New thread: marshals its browser for the requester. False when the
    // requester has given up already; the thread should then end.
    [[nodiscard]] bool Publish(IDispatch* pBrowser);
    // New thread, on its way out: wakes a requester that still waits.
    void MarkThreadEnded();

    // Requester: waits up to dwTimeoutMs, in slices of dwSliceMs, handling
    // messages sent by other threads meanwhile. True when the new thread
    // has published or ended; false at the bound, or when this thread was
    // told to quit.
    bool Wait(DWORD dwTimeoutMs, DWORD dwSliceMs);
    // Requester: the published browser, unmarshalled into *ppDisp. With
    // nothing published, or when unmarshalling fails, the request is
    // cancelled: a new thread that still runs is told to quit, and a later
    // Publish is refused.
    HRESULT TakeOrCancel(IDispatch** ppDisp);

private:
    void CancelLocked();

    CCriticalSection m_lock;
    CHandle m_hSignal;  // manual reset: published or ended
    CComPtr<IStream> m_pStream;
    DWORD m_dwThreadId = 0;
    bool m_bCancelled = false;
    bool m_bThreadEnded = false;
};
