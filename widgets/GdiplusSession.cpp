#include "widgets/GdiplusSession.h"

#include <mutex>

// GDI+ needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>

#include <gdiplus.h>

namespace {

std::mutex g_mutex;
int g_nHolders = 0;
ULONG_PTR g_token = 0;

}  // namespace

CGdiplusSession::CGdiplusSession()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_nHolders == 0) {
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&g_token, &input, nullptr) != Gdiplus::Ok) {
            return;
        }
    }
    ++g_nHolders;
    m_bStarted = true;
}

CGdiplusSession::~CGdiplusSession()
{
    if (!m_bStarted) {
        return;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    if (--g_nHolders == 0) {
        Gdiplus::GdiplusShutdown(g_token);
        g_token = 0;
    }
}
