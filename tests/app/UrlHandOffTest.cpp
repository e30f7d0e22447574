// The URL hand-off's two ends against what another process may leave in the
// atom table and the mapping. Views sit at the very end of a readable page,
// with an inaccessible page after them, so that a single byte read or
// written past the view ends the test program.
#include "app/UrlHandOff.h"

#include <gtest/gtest.h>

#include "app/MSDIApp.h"
#include "shell/ShellMessages.h"
#include "tests/support/Printers.h"

namespace {

constexpr size_t kView = CUrlHandOff::kSharedMemoryBytes;
constexpr int kMax = CUrlHandOff::kMaxSharedChars;

// cb bytes filled with ch, ending where an inaccessible page begins.
class CGuardedView {
public:
    CGuardedView()
    {
        m_pBase = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * kPage, MEM_COMMIT, PAGE_READWRITE));
        DWORD dwOld = 0;
        EXPECT_TRUE(VirtualProtect(m_pBase + kPage, kPage, PAGE_NOACCESS, &dwOld));
    }
    ~CGuardedView() { VirtualFree(m_pBase, 0, MEM_RELEASE); }
    wchar_t* Get(size_t cb = kView, wchar_t ch = L'X')
    {
        auto* p = reinterpret_cast<wchar_t*>(m_pBase + kPage - cb);
        std::fill(p, p + cb / sizeof(wchar_t), ch);
        return p;
    }

private:
    static constexpr size_t kPage = 4096;
    BYTE* m_pBase = nullptr;
};

CString Repeated(wchar_t ch, int nCount)
{
    return CString(std::wstring(static_cast<size_t>(nCount), ch).c_str());
}

bool AtomExists(const CString& strText)
{
    return GlobalFindAtomW(strText) != 0;
}

}  // namespace

TEST(UrlHandOff, ViewsAreReadAndWrittenWithinTheirBoundsAndWholeCharacters)
{
    CGuardedView view;
    CString strUrl = L"untouched";
    // No zero within the view: nothing, and the string stays.
    EXPECT_FALSE(CUrlHandOff::ReadFromView(view.Get(), kView, strUrl));
    EXPECT_EQ(strUrl, L"untouched");
    // An odd size holds no more whole characters than the even size below.
    EXPECT_FALSE(CUrlHandOff::ReadFromView(view.Get(kView - 1, L'B'), kView - 1, strUrl));
    EXPECT_FALSE(CUrlHandOff::ReadFromView(nullptr, kView, strUrl));
    EXPECT_FALSE(CUrlHandOff::ReadFromView(view.Get(), 1, strUrl));
    // The zero in the view's last character: the longest URL there is.
    wchar_t* p = view.Get();
    p[kView / sizeof(wchar_t) - 1] = L'\0';
    ASSERT_TRUE(CUrlHandOff::ReadFromView(p, kView, strUrl));
    EXPECT_EQ(strUrl.GetLength(), kMax);

    const struct {
        CString strUrl;
        int nExpected;
    } cases[] = {
        {Repeated(L'a', kMax), kMax},
        {Repeated(L'b', kMax + 1), kMax},
        // A pair that straddles the cut goes as a whole; one that ends
        // right at the cut stays.
        {Repeated(L'd', kMax - 1) + L"\xD83D\xDE00" + L"tail", kMax - 1},
        {Repeated(L'e', kMax - 2) + L"\xD83D\xDE00" + L"tail", kMax},
        {CString(), 0},
    };
    for (const auto& c : cases) {
        p = view.Get();
        EXPECT_EQ(CUrlHandOff::WriteToView(p, kView, c.strUrl), c.nExpected);
        ASSERT_TRUE(CUrlHandOff::ReadFromView(p, kView, strUrl));
        EXPECT_EQ(strUrl, c.strUrl.Left(c.nExpected));
    }
    // A view too small for even the zero is left alone.
    EXPECT_EQ(CUrlHandOff::WriteToView(view.Get(1), 1, L"http://a/"), 0);
}

TEST(UrlHandOff, EachLengthTakesItsWayAndArrivesOnce)
{
    // A private mapping of the shared one's size: the running copies use the named one.
    CHandle hMapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kView, nullptr));
    ASSERT_TRUE(hMapping.valid());
    const struct {
        int nLength;
        bool bThroughMapping;
    } cases[] = {{1, false}, {255, false}, {256, true}, {kMax, true}, {kMax + 1, true}, {40000, true}};
    EXPECT_EQ(CUrlHandOff::PrepareUrl(CString(), hMapping.get()), 0);
    for (const auto& c : cases) {
        const CString strUrl = Repeated(L'h', c.nLength);
        const ATOM atom = CUrlHandOff::PrepareUrl(strUrl, hMapping.get());
        ASSERT_NE(atom, 0) << c.nLength;
        EXPECT_EQ(AtomExists(kUseSharedMemory), c.bThroughMapping) << c.nLength;
        CString strTaken;
        ASSERT_TRUE(CUrlHandOff::TakeUrl(atom, hMapping.get(), strTaken)) << c.nLength;
        EXPECT_EQ(strTaken, strUrl.Left(kMax));
        // The atom goes with the taking; the mapping is read only once.
        EXPECT_FALSE(AtomExists(kUseSharedMemory) || AtomExists(strUrl));
        if (c.bThroughMapping) {
            EXPECT_FALSE(CUrlHandOff::TakeUrl(GlobalAddAtomW(kUseSharedMemory), hMapping.get(), strTaken));
        }
    }
    // Without a mapping a long URL is not sent at all: the running copy
    // opens its home page instead of a URL someone else left there.
    EXPECT_EQ(CUrlHandOff::PrepareUrl(Repeated(L'z', 400), nullptr), 0);
}

TEST(UrlHandOff, WhatAnotherProcessPostsIsReadWithinItsBounds)
{
    CHandle hMapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kView, nullptr));
    ASSERT_TRUE(hMapping.valid());
    {
        CMappedView view(MapViewOfFile(hMapping.get(), FILE_MAP_WRITE, 0, 0, kView));
        ASSERT_TRUE(view);
        std::fill_n(static_cast<wchar_t*>(view.get()), kView / sizeof(wchar_t), L'x');
    }
    const ATOM gone = GlobalAddAtomW(L"http://gone.example/");
    GlobalDeleteAtom(gone);
    // The mapping named (0 here) with no terminated URL in it, or with no
    // mapping here; an atom nobody added; integer atoms, which name no text.
    CString strUrl = L"home";
    for (const auto& [atom, hMap] : {std::pair{ATOM(0), hMapping.get()}, std::pair{ATOM(0), HANDLE()},
                                     std::pair{gone, hMapping.get()}, std::pair{ATOM(1), hMapping.get()},
                                     std::pair{ATOM(MAXINTATOM - 1), hMapping.get()}}) {
        EXPECT_FALSE(CUrlHandOff::TakeUrl(atom != 0 ? atom : GlobalAddAtomW(kUseSharedMemory), hMap, strUrl));
        EXPECT_FALSE(AtomExists(kUseSharedMemory));
    }
    EXPECT_EQ(strUrl, L"home");
}

TEST(UrlHandOff, TheApplicationTakesOnlySixteenBitAtomsFromTheOpenMessage)
{
    // An atom of someone else's that a wide wParam would name once cut to
    // 16 bits: it must survive every message.
    const ATOM other = GlobalAddAtomW(L"another program's atom");
    ASSERT_NE(other, 0);
    CMSDIApp app;
    for (const WPARAM wParam : {static_cast<WPARAM>(0x10000) | other, static_cast<WPARAM>(0xFFFFFFFF0000) | other,
                                static_cast<WPARAM>(-1)}) {
        EXPECT_TRUE(app.HandleThreadMessage({nullptr, WM_MSDI_OPEN_URL, wParam, 0x7FFFFFFF, 0, {0, 0}}));
    }
    EXPECT_EQ(GlobalFindAtomW(L"another program's atom"), other);
    GlobalDeleteAtom(other);
    // A URL handed to a copy with no window layer is taken and dropped.
    const ATOM atom = GlobalAddAtomW(L"http://late.example/");
    EXPECT_TRUE(app.HandleThreadMessage({nullptr, WM_MSDI_OPEN_URL, atom, 0, 0, {0, 0}}));
    EXPECT_FALSE(AtomExists(L"http://late.example/"));
}
