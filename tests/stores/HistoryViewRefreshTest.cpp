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
    auto* p = static_cast<BYTE*>(CoTaskMemAlloc(items.size() * 3 + 2));
    for (size_t i = 0; i <= items.size(); ++i) {
        p[3 * i] = i < items.size() ? 3 : 0;
        p[3 * i + 1] = 0;
        if (i < items.size()) {
            p[3 * i + 2] = static_cast<BYTE>(items[i]);
        }
    }
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

// A folder namespace: a map from a folder's path of items to its
// subfolders' items; "H" is the history folder, bound from the desktop
// (the empty path). Items named '*' nest without end, items named 'x' are
// no folders. The history folder answers for the view interface when there
// are views. Each object is a folder, its view interface and a listing.
std::map<std::string, std::string> g_tree;
const std::string* g_pViews = nullptr;

class CFake final : public IShellFolder, public IShellFolderViewType, public IEnumIDList {
public:
    explicit CFake(std::string path, std::string listing = {}) : m_path(std::move(path)), m_listing(std::move(listing)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override { return *ppv = nullptr, E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_nRefs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_nRefs == 0 ? (delete this, 0) : m_nRefs; }
    HRESULT STDMETHODCALLTYPE EnumObjects(HWND, SHCONTF flags, IEnumIDList** ppEnum) override
    {
        const auto it = g_tree.find(m_path);
        *ppEnum = new CFake(m_path, it != g_tree.end() ? it->second : (m_path.back() == '*' ? "*" : ""));
        return flags == SHCONTF_FOLDERS ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE pidl, IBindCtx*, REFIID riid, void** ppv) override
    {
        const std::string path = m_path + ItemsOf(pidl);
        *ppv = nullptr;
        if (path.find('x') == std::string::npos && riid == IID_IShellFolder) {
            *ppv = static_cast<IShellFolder*>(new CFake(path));
        } else if (riid == __uuidof(IShellFolderViewType) && path == "H" && g_pViews != nullptr) {
            *ppv = static_cast<IShellFolderViewType*>(new CFake(path));
        }
        return *ppv != nullptr ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE EnumViews(ULONG flags, IEnumIDList** ppEnum) override
    {
        *ppEnum = new CFake(m_path, *g_pViews);
        return flags == SHCONTF_FOLDERS ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG, LPITEMIDLIST* rgelt, ULONG* pFetched) override
    {
        *pFetched = m_next < m_listing.size() ? 1 : 0;
        if (*pFetched == 1) {
            *rgelt = MakeIdList(std::string(1, m_listing[m_next++]));
        }
        return *pFetched == 1 ? S_OK : S_FALSE;
    }
    // What the refresh never calls.
#define NOT_CALLED(name, ...) \
    HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override { return E_NOTIMPL; }
    NOT_CALLED(Skip, ULONG)
    NOT_CALLED(Reset)
    NOT_CALLED(Clone, IEnumIDList**)
    NOT_CALLED(ParseDisplayName, HWND, IBindCtx*, LPWSTR, ULONG*, PIDLIST_RELATIVE*, ULONG*)
    NOT_CALLED(BindToStorage, PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**)
    NOT_CALLED(CompareIDs, LPARAM, PCUIDLIST_RELATIVE, PCUIDLIST_RELATIVE)
    NOT_CALLED(CreateViewObject, HWND, REFIID, void**)
    NOT_CALLED(GetAttributesOf, UINT, PCUITEMID_CHILD_ARRAY, SFGAOF*)
    NOT_CALLED(GetUIObjectOf, HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*, void**)
    NOT_CALLED(GetDisplayNameOf, PCUITEMID_CHILD, SHGDNF, STRRET*)
    NOT_CALLED(SetNameOf, HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD*)
    NOT_CALLED(GetDefaultViewName, DWORD, LPWSTR*)
    NOT_CALLED(GetViewTypeProperties, LPCITEMIDLIST, DWORD*)
    NOT_CALLED(TranslateViewPidl, LPCITEMIDLIST, LPCITEMIDLIST, LPITEMIDLIST*)
#undef NOT_CALLED

private:
    std::string m_path, m_listing;
    size_t m_next = 0;
    ULONG m_nRefs = 1;
};

std::vector<std::string> Refresh(const std::map<std::string, std::string>& tree, const std::string* pViews)
{
    g_tree = tree;
    g_pViews = pViews;
    std::vector<std::string> notified;
    CHistoryViewRefresh refresh([&](LPCITEMIDLIST pidl) { notified.push_back(ItemsOf(pidl)); });
    auto* desktop = new CFake("");
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
