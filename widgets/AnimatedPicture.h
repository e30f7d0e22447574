#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "widgets/GdiplusSession.h"

namespace Gdiplus {
class Bitmap;
}

// A child control that shows an animated image (GIF, or any format GDI+
// reads) once, in a loop, or as a still frame, painted on a background
// colour. It takes over an existing window, typically a static control of a
// dialog template. Frames advance on a timer of that window, so the control
// animates while its thread pumps messages, and every call is made on that
// thread.
class CAnimatedPicture {
public:
    // How the control's window follows the size of the loaded image.
    enum class AutoSize {
        None,          // keeps its size; larger images are scaled down to fit
        FromTopLeft,   // takes the image's size, keeping its top-left corner
        AroundCentre,  // takes the image's size around the centre it had
    };

    CAnimatedPicture();
    ~CAnimatedPicture();
    CAnimatedPicture(const CAnimatedPicture&) = delete;
    CAnimatedPicture& operator=(const CAnimatedPicture&) = delete;

    BOOL SubclassDlgItem(UINT nID, HWND hParent);
    BOOL Attach(HWND hWnd);
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Replace the image; FALSE (and no image) when the data is not one.
    BOOL Load(const void* pData, size_t cbData);
    BOOL LoadResource(HMODULE hModule, LPCWSTR pszName, LPCWSTR pszType);
    // Stops and forgets the image: only the background is painted.
    void UnLoad();

    // Plays from the first frame: once, ending on the last frame, or in a
    // loop until Stop. FALSE when there is no image or no window.
    BOOL Draw(bool bLoop);
    // Stops on the frame shown.
    void Stop();
    bool IsPlaying() const { return m_bPlaying; }
    // Stops and shows one frame.
    BOOL ShowFrame(UINT nFrame);

    void SetBkColor(COLORREF crBack);
    COLORREF GetBkColor() const { return m_crBack; }
    void SetAutoSize(AutoSize mode);

    bool IsLoaded() const { return !m_frames.empty(); }
    UINT GetFrameCount() const { return static_cast<UINT>(m_frames.size()); }
    UINT GetCurrentFrame() const { return m_nFrame; }
    // How long a frame stays up, in milliseconds.
    UINT GetFrameDelay(UINT nFrame) const;
    SIZE GetImageSize() const { return m_size; }

    // Paints the control as it stands into a device context of the
    // control's client size.
    void Paint(HDC hDc) const;

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                         DWORD_PTR dwRefData);
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept;
    void Detach();
    void Advance();
    void ScheduleNextFrame();
    void ApplyAutoSize();
    void Redraw() const;

    CGdiplusSession m_gdiplus;  // outlives the frames below
    HWND m_hWnd = nullptr;
    std::vector<std::unique_ptr<Gdiplus::Bitmap>> m_frames;
    std::vector<UINT> m_delays;
    SIZE m_size = {0, 0};
    UINT m_nFrame = 0;
    // When the frame shown is due to be replaced (GetTickCount64). Frames
    // are timed from when they were due, not from when a late timer fired,
    // so an animation keeps its length however late the timers run.
    ULONGLONG m_ullFrameDue = 0;
    bool m_bPlaying = false;
    bool m_bLoop = false;
    COLORREF m_crBack = GetSysColor(COLOR_BTNFACE);
    AutoSize m_autoSize = AutoSize::None;
    // Twice the centre kept by AroundCentre, in parent client coordinates,
    // so that odd and even sizes never make the control drift.
    POINT m_ptCentre2 = {0, 0};
};
