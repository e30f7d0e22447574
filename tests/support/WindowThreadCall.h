#pragma once

#include <windows.h>

#include <functional>

// Runs fn on the thread that owns hWnd, inside that thread's message
// handling, and returns once it has run: a hook on that thread's sent
// messages carries the call, so the program needs no door for tests. False
// when the window is gone or its thread did not answer within the timeout
// (fn then never runs).
bool RunOnWindowThread(HWND hWnd, const std::function<void()>& fn, DWORD dwTimeoutMs = 30000);
