// The refresh's walk and its use of the history folder's view interface,
// which the platform here lacks, driven through a shell namespace made up
// in the test. (The real shell's notifications are tested in HistoryTest.)
#include "stores/HistoryViewRefresh.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// An ID list of one-character items ("ab" is item 'a', then item 'b').
LPITEMIDLIST MakeIdList(const std::string& items)
{
    auto* p = static_cast<BYTE*>(CoTaskMemAlloc(items.size() * 3 + sizeof(USHORT)));
    for (size_t i = 0; i < items.size(); ++i) {
        p[3 * i] = 3;
        p[3 * i + 1] = 0;
        p[3 * i + 2] = static_cast<BYTE>(items[i]);
    }
    p[3 * items.size()] = p[3 * items.size() + 1] = 0;
    return reinterpret_cast<LPITEMIDLIST>(p);
}

std::string ItemsOf(LPCITEMIDLIST pidl)
{
    std::string items;
    for (auto* at = reinterpret_cast<const BYTE*>(pidl); at[0] != 0 || at[1] != 0; at += at[0] | (at[1] << 8)) {
        items += at[0] == 3 ? static_cast<char>(at[2]) : '?';
    }
    return items;
}

// A folder namespace described by a map from a folder's path of items to
// its subfolders' items; "H" is the history folder, bound from the desktop
// (the empty path). Items named '*' nest without end, items named 'x' are
// no folders. The history folder answers for the view interface when views
// are given. Each object is a folder, its view interface and a listing of
// its items at once.
class CFake final : public IShellFolder, public IShellFolderViewType, public IEnumIDList {
public:
    CFake(const std::map<std::string, std::string>* pTree, std::string path, const std::string* pViews,
          std::string listing = {})
        : m_pTree(pTree), m_path(std::move(path)), m_pViews(pViews), m_listing(std::move(listing))
    {
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override { return *ppv = nullptr, E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_nRefs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG n = --m_nRefs;
        if (n == 0) {
            delete this;
        }
        return n;
    }

    HRESULT STDMETHODCALLTYPE EnumObjects(HWND, SHCONTF flags, IEnumIDList** ppEnum) override
    {
        const auto it = m_pTree->find(m_path);
        *ppEnum = new CFake(m_pTree, m_path, m_pViews,
                            it != m_pTree->end() ? it->second : (m_path.back() == '*' ? "*" : ""));
        return flags == SHCONTF_FOLDERS ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE pidl, IBindCtx*, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        const std::string path = m_path + ItemsOf(pidl);
        if (path.find('x') != std::string::npos) {
            return E_FAIL;
        }
        if (riid == IID_IShellFolder) {
            *ppv = static_cast<IShellFolder*>(new CFake(m_pTree, path, m_pViews));
        } else if (riid == __uuidof(IShellFolderViewType) && path == "H" && m_pViews != nullptr) {
            *ppv = static_cast<IShellFolderViewType*>(new CFake(m_pTree, path, m_pViews));
        }
        return *ppv != nullptr ? S_OK : E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE EnumViews(ULONG flags, IEnumIDList** ppEnum) override
    {
        *ppEnum = new CFake(m_pTree, m_path, m_pViews, *m_pViews);
        return flags == SHCONTF_FOLDERS ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG, LPITEMIDLIST* rgelt, ULONG* pFetched) override
    {
        if (m_next >= m_listing.size()) {
            *pFetched = 0;
            return S_FALSE;
        }
        *rgelt = MakeIdList(std::string(1, m_listing[m_next++]));
        *pFetched = 1;
        return S_OK;
    }

    // What the refresh never calls.
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumIDList**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND, IBindCtx*, LPWSTR, ULONG*, PIDLIST_RELATIVE*, ULONG*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM, PCUIDLIST_RELATIVE, PCUIDLIST_RELATIVE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateViewObject(HWND, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT, PCUITEMID_CHILD_ARRAY, SFGAOF*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*, void**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD, SHGDNF, STRRET*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultViewName(DWORD, LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetViewTypeProperties(LPCITEMIDLIST, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateViewPidl(LPCITEMIDLIST, LPCITEMIDLIST, LPITEMIDLIST*) override
    {
        return E_NOTIMPL;
    }

private:
    const std::map<std::string, std::string>* m_pTree;
    std::string m_path;
    const std::string* m_pViews;
    std::string m_listing;
    size_t m_next = 0;
    ULONG m_nRefs = 1;
};

std::vector<std::string> Refresh(const std::map<std::string, std::string>& tree, const std::string* pViews)
{
    std::vector<std::string> notified;
    CHistoryViewRefresh refresh([&](LPCITEMIDLIST pidl) { notified.push_back(ItemsOf(pidl)); });
    auto* desktop = new CFake(&tree, "", pViews);
    LPITEMIDLIST history = MakeIdList("H");
    refresh.Refresh(desktop, history);
    EXPECT_EQ(refresh.GetNotifiedCount(), static_cast<int>(notified.size()));
    CoTaskMemFree(history);
    static_cast<IShellFolder*>(desktop)->Release();
    return notified;
}

}  // namespace

TEST(HistoryViewRefresh, EveryFolderFollowsItsSubfoldersTheViewsComeLastAndEndlessNestingStops)
{
    // H holds a (with c and d, d with e), b, and x, which is no folder.
    const std::map<std::string, std::string> tree = {{"H", "abx"}, {"Ha", "cd"}, {"Had", "e"}};
    const std::vector<std::string> walked = {"Hac", "Hade", "Had", "Ha", "Hb", "H"};
    EXPECT_EQ(Refresh(tree, nullptr), walked);
    const std::string views = "vw";
    std::vector<std::string> withViews = walked;
    withViews.insert(withViews.end(), {"Hv", "Hw"});
    EXPECT_EQ(Refresh(tree, &views), withViews);

    const std::vector<std::string> notified = Refresh({{"H", "*b"}}, nullptr);
    ASSERT_EQ(notified.size(), 34u);  // 32 levels below H, then b and H
    EXPECT_EQ(notified.front(), "H" + std::string(32, '*'));
    EXPECT_EQ(notified[notified.size() - 2], "Hb");
}
