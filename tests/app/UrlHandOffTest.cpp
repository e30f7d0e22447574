// The URL hand-off against what other processes leave in the atom table and the
// mapping; views end at an inaccessible page, so a byte past one ends the test.
#include "app/UrlHandOff.h"

#include <gtest/gtest.h>

#include "app/MSDIApp.h"
#include "shell/ShellMessages.h"
#include "tests/support/Printers.h"

namespace {

constexpr size_t kView = CUrlHandOff::kSharedMemoryBytes;
constexpr int kMax = CUrlHandOff::kMaxSharedChars;

// cb bytes filled with ch, ending where an inaccessible page begins.
wchar_t* GuardedView(size_t cb = kView, wchar_t ch = L'X')
{
    constexpr size_t kPage = 4096;
    static BYTE* const pBase = [] {
        auto* p = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * kPage, MEM_COMMIT, PAGE_READWRITE));
        DWORD dwOld = 0;
        EXPECT_TRUE(VirtualProtect(p + kPage, kPage, PAGE_NOACCESS, &dwOld));
        return p;
    }();
    auto* p = reinterpret_cast<wchar_t*>(pBase + kPage - cb);
    std::fill(p, p + cb / sizeof(wchar_t), ch);
    return p;
}

}  // namespace

TEST(UrlHandOff, ViewsAreReadAndWrittenWithinTheirBoundsAndWholeCharacters)
{
    CString strUrl = L"untouched";
    // No zero within the view: nothing, and the string stays.
    EXPECT_FALSE(CUrlHandOff::ReadFromView(GuardedView(), kView, strUrl));
    EXPECT_EQ(strUrl, L"untouched");
    // An odd size holds no more whole characters than the even one below.
    EXPECT_FALSE(CUrlHandOff::ReadFromView(GuardedView(kView - 1, L'B'), kView - 1, strUrl));
    EXPECT_FALSE(CUrlHandOff::ReadFromView(nullptr, kView, strUrl));
    EXPECT_FALSE(CUrlHandOff::ReadFromView(GuardedView(), 1, strUrl));
    // The zero in the view's last character: the longest URL there is.
    wchar_t* p = GuardedView();
    p[kView / sizeof(wchar_t) - 1] = L'\0';
    ASSERT_TRUE(CUrlHandOff::ReadFromView(p, kView, strUrl));
    EXPECT_EQ(strUrl.GetLength(), kMax);

    const struct {
        CString strUrl;
        int nExpected;
    } cases[] = {
        {CString(L'a', kMax), kMax},
        {CString(L'b', kMax + 1), kMax},
        // A pair straddling the cut goes whole; one ending at the cut stays.
        {CString(L'd', kMax - 1) + L"\xD83D\xDE00" + L"tail", kMax - 1},
        {CString(L'e', kMax - 2) + L"\xD83D\xDE00" + L"tail", kMax},
        {CString(), 0},
    };
    for (const auto& c : cases) {
        p = GuardedView();
        EXPECT_EQ(CUrlHandOff::WriteToView(p, kView, c.strUrl), c.nExpected);
        ASSERT_TRUE(CUrlHandOff::ReadFromView(p, kView, strUrl));
        EXPECT_EQ(strUrl, c.strUrl.Left(c.nExpected));
    }
    // A view too small for even the zero is left alone.
    EXPECT_EQ(CUrlHandOff::WriteToView(GuardedView(1), 1, L"http://a/"), 0);
}

TEST(UrlHandOff, EachLengthTakesItsWayAndArrivesOnce)
{
    CHandle hMapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kView, nullptr));
    ASSERT_TRUE(hMapping.valid());
    EXPECT_EQ(CUrlHandOff::PrepareUrl(CString(), hMapping.get()), 0);
    for (const auto& [nLength, bThroughMapping] : {std::pair{1, false}, std::pair{255, false}, std::pair{256, true},
                                                   std::pair{kMax + 1, true}, std::pair{40000, true}}) {
        const CString strUrl = CString(L'h', nLength);
        const ATOM atom = CUrlHandOff::PrepareUrl(strUrl, hMapping.get());
        ASSERT_NE(atom, 0) << nLength;
        EXPECT_EQ(GlobalFindAtomW(kUseSharedMemory) != 0, bThroughMapping) << nLength;
        CString strTaken;
        ASSERT_TRUE(CUrlHandOff::TakeUrl(atom, hMapping.get(), strTaken)) << nLength;
        EXPECT_EQ(strTaken, strUrl.Left(kMax));
        // The atom goes with the taking; the mapping is read only once.
        EXPECT_FALSE(GlobalFindAtomW(kUseSharedMemory) || GlobalFindAtomW(strUrl));
        if (bThroughMapping) {
            EXPECT_FALSE(CUrlHandOff::TakeUrl(GlobalAddAtomW(kUseSharedMemory), hMapping.get(), strTaken));
        }
    }
    // Without a mapping a long URL is not sent (nor someone else's left there).
    EXPECT_EQ(CUrlHandOff::PrepareUrl(CString(L'z', 400), nullptr), 0);
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
    // No terminated URL or no mapping (atom 0 here); an atom nobody added; integer atoms.
    CString strUrl = L"home";
    for (const auto& [atom, hMap] : {std::pair{ATOM(0), hMapping.get()}, std::pair{ATOM(0), HANDLE()},
                                     std::pair{gone, hMapping.get()}, std::pair{ATOM(1), hMapping.get()},
                                     std::pair{ATOM(MAXINTATOM - 1), hMapping.get()}}) {
        EXPECT_FALSE(CUrlHandOff::TakeUrl(atom != 0 ? atom : GlobalAddAtomW(kUseSharedMemory), hMap, strUrl));
        EXPECT_FALSE(GlobalFindAtomW(kUseSharedMemory));
    }
    EXPECT_EQ(strUrl, L"home");
}

TEST(UrlHandOff, TheApplicationTakesOnlySixteenBitAtomsFromTheOpenMessage)
{
    // Someone else's atom, which a wide wParam cut to 16 bits would name.
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
    EXPECT_FALSE(GlobalFindAtomW(L"http://late.example/"));
}
