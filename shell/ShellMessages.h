#pragma once

#include <windows.h>

// Messages between the application thread, the window threads and other
// running copies of the program. The values are fixed: another copy posts
// WM_MSDI_OPEN_URL to this one's application thread.

// To the application thread. wParam: the CMSDIThread. A window thread has
// finished its start-up.
constexpr UINT WM_MSDI_THREAD_STARTED = WM_APP + 0x01;
// To the application thread. wParam: the CMSDIThread, which now waits at
// its exit gate until the thread manager opens it.
constexpr UINT WM_MSDI_THREAD_ENDING = WM_APP + 0x02;
// To the application thread, from another copy. wParam: a global atom with
// the URL, or with "USE_SHARED_MEMORY"; 0 for the home page.
constexpr UINT WM_MSDI_OPEN_URL = WM_APP + 0x03;
// To the application thread. wParam: non-zero to switch secure deletion on.
constexpr UINT WM_MSDI_SECURE_DELETE = WM_APP + 0x06;
// To the application thread. wParam: 1 when the last window has gone or the
// user exits, 0 for a clean-up now while the windows stay open.
constexpr UINT WM_MSDI_CLEANUP = WM_APP + 0x08;
// To the application thread, after each completed document.
constexpr UINT WM_MSDI_CLEANUP_CACHE = WM_APP + 0x0A;

// To a browser view: let the next new-window request through.
constexpr UINT WM_VIEW_USER_REQUESTED_WINDOW = WM_APP + 0x04;

// To a frame window: the program has just been made the default browser.
constexpr UINT WM_FRAME_DEFAULT_SET = WM_APP + 0x07;
// To a frame window. wParam: a URL handed out by CFrameUrlMessage, which
// the frame takes over; lParam: non-zero to bring the window to the
// foreground.
constexpr UINT WM_FRAME_OPEN_IN_NEW_TAB = WM_APP + 0x0B;
// To every frame window: the boss key was pressed.
constexpr UINT WM_FRAME_BOSS = WM_APP + 0x10;

// The text a starting copy puts in the atom when the URL went through the
// shared memory.
constexpr wchar_t kUseSharedMemory[] = L"USE_SHARED_MEMORY";
