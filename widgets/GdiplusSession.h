#pragma once

#include <windows.h>

// Keeps GDI+ started while any object holds one. The first holder starts
// it and the last one shuts it down, so widgets need no start-up call from
// the program. GDI+ objects must be destroyed before the session that was
// live when they were made.
class CGdiplusSession {
public:
    CGdiplusSession();
    ~CGdiplusSession();
    CGdiplusSession(const CGdiplusSession&) = delete;
    CGdiplusSession& operator=(const CGdiplusSession&) = delete;

    // Whether GDI+ started; nothing drawn with it works otherwise.
    bool Started() const { return m_bStarted; }

private:
    bool m_bStarted = false;
};
