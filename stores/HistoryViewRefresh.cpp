#include "stores/HistoryViewRefresh.h"

#include "framework/ComPtr.h"
#include "framework/Handles.h"
#include "framework/Logger.h"

namespace {

using CIdList = CUniqueHandle<CNullHandleTraits<LPITEMIDLIST, &ILFree>>;

// The flush bit that does not wait for the listeners, as the shells this
// program runs on define it; the item is an ID list (SHCNF_IDLIST, 0).
constexpr UINT kFlushNoWait = 0x2000;

// A history tree is a few levels deep (the history folder, its containers,
// their days); a shell folder that nests without end must not take the
// clean-up with it.
constexpr int kMaxDepth = 32;
constexpr int kMaxFolders = 100000;

void NotifyShell(LPCITEMIDLIST pidl)
{
    SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_IDLIST | kFlushNoWait, pidl, nullptr);
}

}  // namespace

CHistoryViewRefresh::CHistoryViewRefresh() : m_notify(&NotifyShell) {}

CHistoryViewRefresh::CHistoryViewRefresh(Notifier notify) : m_notify(std::move(notify)) {}

void CHistoryViewRefresh::Refresh()
{
    const CComInitializer com;
    CComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.put())) || !desktop) {
        LOG_MESSAGE(L"CHistoryViewRefresh::Refresh has no desktop folder");
        return;
    }
    CIdList history;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_HISTORY, history.put())) || !history) {
        LOG_MESSAGE(L"CHistoryViewRefresh::Refresh has no history folder");
        return;
    }
    Refresh(desktop.get(), history.get());
}

void CHistoryViewRefresh::Refresh(IShellFolder* pDesktop, LPCITEMIDLIST pidlHistory)
{
    m_nNotified = 0;
    CComPtr<IShellFolder> history;
    if (SUCCEEDED(pDesktop->BindToObject(pidlHistory, nullptr, IID_IShellFolder, history.put_void())) && history) {
        WalkFolder(history.get(), pidlHistory, 0);
    }
    NotifyViews(pDesktop, pidlHistory);
}

void CHistoryViewRefresh::WalkFolder(IShellFolder* pFolder, LPCITEMIDLIST pidlFolder, int nDepth)
{
    CComPtr<IEnumIDList> items;
    if (nDepth < kMaxDepth && SUCCEEDED(pFolder->EnumObjects(nullptr, SHCONTF_FOLDERS, items.put())) && items) {
        for (;;) {
            CIdList item;
            ULONG nFetched = 0;
            if (items->Next(1, item.put(), &nFetched) != S_OK || nFetched != 1 || !item ||
                m_nNotified >= kMaxFolders) {
                break;
            }
            CComPtr<IShellFolder> subfolder;
            if (FAILED(pFolder->BindToObject(item.get(), nullptr, IID_IShellFolder, subfolder.put_void())) ||
                !subfolder) {
                continue;
            }
            const CIdList full(ILCombine(pidlFolder, item.get()));
            if (full) {
                WalkFolder(subfolder.get(), full.get(), nDepth + 1);
            }
        }
    }
    Notify(pidlFolder);
}

void CHistoryViewRefresh::NotifyViews(IShellFolder* pDesktop, LPCITEMIDLIST pidlHistory)
{
    CComPtr<IShellFolderViewType> views;
    if (FAILED(pDesktop->BindToObject(pidlHistory, nullptr, __uuidof(IShellFolderViewType), views.put_void())) ||
        !views) {
        return;
    }
    CComPtr<IEnumIDList> items;
    if (FAILED(views->EnumViews(SHCONTF_FOLDERS, items.put())) || !items) {
        return;
    }
    for (int n = 0; n < kMaxFolders; ++n) {
        CIdList item;
        ULONG nFetched = 0;
        if (items->Next(1, item.put(), &nFetched) != S_OK || nFetched != 1 || !item) {
            break;
        }
        const CIdList full(ILCombine(pidlHistory, item.get()));
        if (full) {
            Notify(full.get());
        }
    }
}

void CHistoryViewRefresh::Notify(LPCITEMIDLIST pidl)
{
    ++m_nNotified;
    if (m_notify) {
        m_notify(pidl);
    }
}
