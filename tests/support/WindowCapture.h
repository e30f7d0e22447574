#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>


// What a window shows on screen, read back from its device context: the
// pixels the platform really drew, not what our code meant to draw.
class CWindowImage {
public:
    // The whole window, frame included, or only its client area.
    static CWindowImage Capture(HWND hWnd, bool bClientOnly = false);

    bool Empty() const { return m_pixels.empty(); }
    // Out-of-range points give black.
    COLORREF Pixel(int x, int y) const;
    // How many pixels lie within nTolerance of the colour on each channel.
    int CountNear(COLORREF cr, int nTolerance = 8) const;


private:
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::vector<uint32_t> m_pixels;  // 0x00RRGGBB, top row first
};

// Runs the thread's message loop for a while, or until the condition holds.
// Returns whether it held.
template <typename Condition>
bool PumpMessagesUntil(Condition condition, DWORD dwTimeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + dwTimeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

inline void PumpMessagesFor(DWORD dwMs)
{
    PumpMessagesUntil([] { return false; }, dwMs);
}
