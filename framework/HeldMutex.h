#pragma once

#include <windows.h>

#include "framework/Handles.h"

// A named mutex that this thread creates as its initial owner and holds for
// as long as the object lives. Other copies of the program only look at
// whether the name exists, so the handle is what matters; ownership is
// released only when this object acquired it (a mutex that existed already
// is just kept open).
class CHeldMutex {
public:
    CHeldMutex() = default;
    explicit CHeldMutex(const wchar_t* pszName) { Create(pszName); }
    ~CHeldMutex() { Release(); }
    CHeldMutex(const CHeldMutex&) = delete;
    CHeldMutex& operator=(const CHeldMutex&) = delete;

    // FALSE when the mutex could not be created or opened.
    BOOL Create(const wchar_t* pszName)
    {
        Release();
        SetLastError(ERROR_SUCCESS);  // a new mutex need not clear it
        m_hMutex.reset(CreateMutexW(nullptr, TRUE, pszName));
        m_bOwned = m_hMutex.valid() && GetLastError() != ERROR_ALREADY_EXISTS;
        return m_hMutex.valid() ? TRUE : FALSE;
    }

    void Release()
    {
        if (m_bOwned) {
            ReleaseMutex(m_hMutex.get());
            m_bOwned = false;
        }
        m_hMutex.reset();
    }

    bool IsHeld() const { return m_hMutex.valid(); }

private:
    CHandle m_hMutex;
    bool m_bOwned = false;
};
