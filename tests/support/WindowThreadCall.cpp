#include "tests/support/WindowThreadCall.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

constexpr WPARAM kCallMarker = 0x4E56544C;

UINT CallMessage()
{
    static const UINT uMessage = RegisterWindowMessageW(L"NulvaneTestWindowThreadCall");
    return uMessage;
}

struct CCall {
    enum class State { pending, running, done, abandoned };
    std::mutex mutex;
    std::condition_variable finished;
    State state = State::pending;
    std::function<void()> fn;
};

LRESULT CALLBACK CallWndProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    const auto* pInfo = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && pInfo->message == CallMessage() && pInfo->wParam == kCallMarker) {
        auto* pCall = reinterpret_cast<std::shared_ptr<CCall>*>(pInfo->lParam);
        std::shared_ptr<CCall> call = *pCall;
        {
            std::lock_guard<std::mutex> lock(call->mutex);
            if (call->state != CCall::State::pending) {
                return CallNextHookEx(nullptr, nCode, wParam, lParam);
            }
            call->state = CCall::State::running;
        }
        try {
            call->fn();
        } catch (...) {
        }
        {
            std::lock_guard<std::mutex> lock(call->mutex);
            call->state = CCall::State::done;
        }
        call->finished.notify_all();
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

}  // namespace

bool RunOnWindowThread(HWND hWnd, const std::function<void()>& fn, DWORD dwTimeoutMs)
{
    const DWORD dwThreadId = IsWindow(hWnd) ? GetWindowThreadProcessId(hWnd, nullptr) : 0;
    if (dwThreadId == 0) {
        return false;
    }
    if (dwThreadId == GetCurrentThreadId()) {
        fn();
        return true;
    }
    HHOOK hHook = SetWindowsHookExW(WH_CALLWNDPROC, CallWndProc, nullptr, dwThreadId);
    if (hHook == nullptr) {
        return false;
    }
    // Shared with the hook: after a timeout the call may still be picked up
    // later, and must then find itself abandoned.
    auto pCall = std::make_shared<CCall>();
    pCall->fn = fn;
    auto* pHandle = new std::shared_ptr<CCall>(pCall);
    DWORD_PTR dwResult = 0;
    SendMessageTimeoutW(hWnd, CallMessage(), kCallMarker, reinterpret_cast<LPARAM>(pHandle), SMTO_NORMAL,
                        dwTimeoutMs, &dwResult);
    bool bDone = false;
    {
        std::unique_lock<std::mutex> lock(pCall->mutex);
        if (pCall->state == CCall::State::pending) {
            pCall->state = CCall::State::abandoned;
        } else {
            pCall->finished.wait(lock, [&] { return pCall->state == CCall::State::done; });
            bDone = true;
        }
    }
    UnhookWindowsHookEx(hHook);
    // A message still queued would read the handle: it stays allocated when
    // the call was abandoned.
    if (bDone) {
        delete pHandle;
    }
    return bDone;
}
