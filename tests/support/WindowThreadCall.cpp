#include "tests/support/WindowThreadCall.h"

#include <atomic>
#include <memory>

namespace {

constexpr WPARAM kCallMarker = 0x4E56544C;

UINT CallMessage()
{
    static const UINT uMessage = RegisterWindowMessageW(L"NulvaneTestWindowThreadCall");
    return uMessage;
}

// Shared with the hook: after a timeout the message may still arrive, and
// must then find the call abandoned.
struct CCall {
    enum State { pending, running, done, abandoned };
    std::atomic<int> state{pending};
    std::function<void()> fn;
};

LRESULT CALLBACK CallWndProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    const auto* pInfo = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && pInfo->message == CallMessage() && pInfo->wParam == kCallMarker) {
        const std::shared_ptr<CCall> call = *reinterpret_cast<std::shared_ptr<CCall>*>(pInfo->lParam);
        int expected = CCall::pending;
        if (call->state.compare_exchange_strong(expected, CCall::running)) {
            try {
                call->fn();
            } catch (...) {
            }
            call->state = CCall::done;
        }
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

}  // namespace

bool RunOnWindowThread(HWND hWnd, const std::function<void()>& fn, DWORD dwTimeoutMs)
{
    const DWORD dwThreadId = IsWindow(hWnd) ? GetWindowThreadProcessId(hWnd, nullptr) : 0;
    if (dwThreadId == GetCurrentThreadId()) {
        fn();
        return true;
    }
    HHOOK hHook = dwThreadId != 0 ? SetWindowsHookExW(WH_CALLWNDPROC, CallWndProc, nullptr, dwThreadId) : nullptr;
    if (hHook == nullptr) {
        return false;
    }
    auto call = std::make_shared<CCall>();
    call->fn = fn;
    // Leaked when abandoned: a late message still reads it.
    auto* pHandle = new std::shared_ptr<CCall>(call);
    DWORD_PTR dwResult = 0;
    SendMessageTimeoutW(hWnd, CallMessage(), kCallMarker, reinterpret_cast<LPARAM>(pHandle), SMTO_NORMAL, dwTimeoutMs,
                        &dwResult);
    int expected = CCall::pending;
    const bool bAbandoned = call->state.compare_exchange_strong(expected, CCall::abandoned);
    while (!bAbandoned && call->state != CCall::done) {
        Sleep(1);
    }
    UnhookWindowsHookEx(hHook);
    if (!bAbandoned) {
        delete pHandle;
    }
    return !bAbandoned;
}
