#pragma once

#include <windows.h>

// The control's window while it shows our context menu: our "Open in New
// Tab" item is enabled exactly when the control's "Open in New Window" is.
// Installed once per window (marked by the window property
// "NulvaneOriginalProc", which holds the procedure found at installation);
// removed, with the property, when the window goes.
class CContextMenuSubclass {
public:
    static constexpr wchar_t kPropertyName[] = L"NulvaneOriginalProc";

    static bool Install(HWND hWnd);
    static bool IsInstalled(HWND hWnd) { return GetPropW(hWnd, kPropertyName) != nullptr; }

private:
    static LRESULT CALLBACK Proc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                 DWORD_PTR dwRefData);
};
