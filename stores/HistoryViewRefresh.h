#pragma once

#include <windows.h>
#include <shlobj.h>

#include <functional>

// The history folder's own view interface: where the shell has one, its
// first method lists the views (by day, by site, ...) that show the
// history, each as an ID list below the history folder.
struct IShellFolderViewType : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumViews(ULONG grfFlags, IEnumIDList** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultViewName(DWORD dwFlags, LPWSTR* ppszName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetViewTypeProperties(LPCITEMIDLIST pidl, DWORD* pdwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE TranslateViewPidl(LPCITEMIDLIST pidl, LPCITEMIDLIST pidlView,
                                                        LPITEMIDLIST* ppidlOut) = 0;
};
__CRT_UUID_DECL(IShellFolderViewType, 0x49422C1E, 0x1C03, 0x11D2, 0x8D, 0xAB, 0x00, 0x00, 0xF8, 0x7A, 0x55, 0x6C)

// Tells the shell that every folder of the history tree has changed, so
// that open history views drop what the clean-up erased: each folder is
// announced (SHCNE_UPDATEDIR) after all of its subfolders, and then every
// view the history folder offers, where the shell has the history folder's
// view interface.
class CHistoryViewRefresh {
public:
    // Called with each folder's full ID list.
    using Notifier = std::function<void(LPCITEMIDLIST pidl)>;

    // Announces through SHChangeNotify.
    CHistoryViewRefresh();
    explicit CHistoryViewRefresh(Notifier notify);
    CHistoryViewRefresh(const CHistoryViewRefresh&) = delete;
    CHistoryViewRefresh& operator=(const CHistoryViewRefresh&) = delete;

    // The platform's history folder, from the desktop. Initialises COM on
    // the calling thread for its own length. Shell failures end it quietly.
    void Refresh();
    // The folder with that full ID list, bound from the given desktop.
    void Refresh(IShellFolder* pDesktop, LPCITEMIDLIST pidlHistory);

    // Folders announced by the last Refresh.
    int GetNotifiedCount() const { return m_nNotified; }

private:
    void WalkFolder(IShellFolder* pFolder, LPCITEMIDLIST pidlFolder, int nDepth);
    void NotifyViews(IShellFolder* pDesktop, LPCITEMIDLIST pidlHistory);
    void Notify(LPCITEMIDLIST pidl);

    Notifier m_notify;
    int m_nNotified = 0;
};
