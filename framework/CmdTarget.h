#pragma once

#include <windows.h>

// Something that may handle a command (a menu item, an accelerator, a
// button). Windows offer a command along a chain of targets, ending at the
// application, until one handles it.
class CCmdTarget {
public:
    CCmdTarget() = default;
    virtual ~CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    // True when the command was handled.
    virtual bool OnCmdMsg(UINT nID)
    {
        (void)nID;
        return false;
    }

    // The last target of every chain: the application object, registered
    // by it at start-up; null until then.
    static CCmdTarget* GetApplication();
    static void SetApplication(CCmdTarget* pApplication);
};
