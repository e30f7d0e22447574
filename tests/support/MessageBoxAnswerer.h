#pragma once

#include <windows.h>

#include <map>
#include <thread>

#include "framework/String.h"

// Answers a message box that the constructing thread is about to show: a
// thread of its own waits for a dialog of that thread with the caption,
// records what it shows, optionally posts a message to the showing thread,
// then presses a button by posting its click (so that the post comes first).
class CMessageBoxAnswerer {
public:
    struct CButton {
        CString strText;
        RECT rc{};           // in the box's client coordinates
        int nTextWidth = 0;  // the text's width in the button's own font
    };
    struct CSeen {
        bool bFound = false;
        CString strText;
        std::map<int, CButton> buttons;
        HICON hIcon = nullptr;
        bool bForeground = false;
        RECT rcClient{};
    };

    CMessageBoxAnswerer(const CString& strCaption, int nButtonToPress, UINT uPostFirst = 0);
    ~CMessageBoxAnswerer();
    CMessageBoxAnswerer(const CMessageBoxAnswerer&) = delete;
    CMessageBoxAnswerer& operator=(const CMessageBoxAnswerer&) = delete;

    // Waits for the answering thread and returns what it saw.
    const CSeen& Seen();

private:
    void Run();
    // With bAnyCaption, any dialog of the thread: a box shown with another
    // caption is answered all the same rather than left to hang the test.
    HWND FindBox(bool bAnyCaption) const;

    CString m_strCaption;
    int m_nButtonToPress;
    UINT m_uPostFirst;
    DWORD m_dwThreadId;
    CSeen m_seen;
    std::thread m_thread;
};
