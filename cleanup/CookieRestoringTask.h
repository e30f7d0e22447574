#pragma once

#include "cleanup/BackgroundTask.h"

// The cookie cleaner as the clean-up manager drives it: a background task
// that can also put back the cookies that existed before the session.
class CCookieRestoringTask : public CBackgroundTask {
public:
    virtual BOOL RecreateCookies() = 0;
};
