#include "shell/FrameUrlMessage.h"

#include <unordered_set>

#include "framework/CriticalSection.h"
#include "shell/ShellMessages.h"

namespace {

struct COutstandingUrls {
    CCriticalSection lock;
    std::unordered_set<const wchar_t*> urls;
};

COutstandingUrls& Registry()
{
    static COutstandingUrls outstanding;
    return outstanding;
}

wchar_t* HandOut(const CString& strUrl)
{
    const size_t nLength = static_cast<size_t>(strUrl.GetLength());
    auto* pszCopy = new wchar_t[nLength + 1];
    wmemcpy(pszCopy, strUrl.GetString(), nLength + 1);
    COutstandingUrls& outstanding = Registry();
    CCriticalSectionLock lock(outstanding.lock);
    outstanding.urls.insert(pszCopy);
    return pszCopy;
}

// Takes the copy back from the outstanding set; false when it is not there.
bool TakeBack(const wchar_t* pszCopy)
{
    COutstandingUrls& outstanding = Registry();
    CCriticalSectionLock lock(outstanding.lock);
    return outstanding.urls.erase(pszCopy) == 1;
}

}  // namespace

bool CFrameUrlMessage::Post(HWND hWndFrame, const CString& strUrl, LPARAM lParam)
{
    wchar_t* pszCopy = HandOut(strUrl);
    if (PostMessageW(hWndFrame, WM_FRAME_OPEN_IN_NEW_TAB, reinterpret_cast<WPARAM>(pszCopy), lParam)) {
        return true;
    }
    if (TakeBack(pszCopy)) {
        delete[] pszCopy;
    }
    return false;
}

bool CFrameUrlMessage::Send(HWND hWndFrame, const CString& strUrl, LPARAM lParam)
{
    wchar_t* pszCopy = HandOut(strUrl);
    SendMessageW(hWndFrame, WM_FRAME_OPEN_IN_NEW_TAB, reinterpret_cast<WPARAM>(pszCopy), lParam);
    // A window that was gone, or one that did not take the URL, leaves it
    // here.
    if (TakeBack(pszCopy)) {
        delete[] pszCopy;
        return false;
    }
    return true;
}

bool CFrameUrlMessage::Take(WPARAM wParam, CString& strUrl)
{
    auto* pszCopy = reinterpret_cast<wchar_t*>(wParam);
    if (pszCopy == nullptr || !TakeBack(pszCopy)) {
        return false;
    }
    strUrl = pszCopy;
    delete[] pszCopy;
    return true;
}

size_t CFrameUrlMessage::Outstanding()
{
    COutstandingUrls& outstanding = Registry();
    CCriticalSectionLock lock(outstanding.lock);
    return outstanding.urls.size();
}
