#include "framework/CmdTarget.h"

#include <atomic>

namespace {

// Set once on the application thread, read on every window thread.
std::atomic<CCmdTarget*> g_pApplication{nullptr};

}  // namespace

CCmdTarget* CCmdTarget::GetApplication()
{
    return g_pApplication.load();
}

void CCmdTarget::SetApplication(CCmdTarget* pApplication)
{
    g_pApplication.store(pApplication);
}
