#pragma once

#include <windows.h>

#include <cstddef>

#include "cleanup/StoreCheck.h"

// What puts the start-of-session cookies back. The cookie cleaner lives in
// the stores, above this room: the clean-up manager knows it only as a task
// to run and, after it, this.
class CCookieRestorer {
public:
    // Sets every cookie of the snapshot again; the snapshot stays.
    virtual BOOL RecreateCookies() = 0;

protected:
    ~CCookieRestorer() = default;
};

// The cookie cleaner as the manager holds it: taken from one object that is
// both a task and a restorer, so that the two can never name different
// cleaners, or one be set without the other.
class CCookieCategory : public CCleanerCategory {
public:
    CCookieCategory() = default;
    CCookieCategory(std::nullptr_t) {}
    template <class TCleaner>
    CCookieCategory(TCleaner* pCleaner) : CCleanerCategory(pCleaner), m_pRestorer(pCleaner)
    {
    }

    CCookieRestorer* Restorer() const { return m_pRestorer; }

private:
    CCookieRestorer* m_pRestorer = nullptr;
};
