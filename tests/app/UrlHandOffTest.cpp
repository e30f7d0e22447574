// The URL hand-off's two ends against what another process may leave in the
// atom table and the mapping. Views sit at the very end of a readable page,
// with an inaccessible page after them, so that a single byte read or
// written past the view ends the test program.
#include "app/UrlHandOff.h"

#include <gtest/gtest.h>

#include "app/MSDIApp.h"
#include "shell/ShellMessages.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"

namespace {

constexpr size_t kView = CUrlHandOff::kSharedMemoryBytes;

// kView bytes that end where an inaccessible page begins.
class CGuardedView {
public:
    CGuardedView()
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        m_cbPage = info.dwPageSize;
        m_pBase = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * m_cbPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD dwOld = 0;
        EXPECT_TRUE(VirtualProtect(m_pBase + m_cbPage, m_cbPage, PAGE_NOACCESS, &dwOld));
    }
    ~CGuardedView() { VirtualFree(m_pBase, 0, MEM_RELEASE); }
    CGuardedView(const CGuardedView&) = delete;
    CGuardedView& operator=(const CGuardedView&) = delete;

    wchar_t* Get(size_t cb = kView) { return reinterpret_cast<wchar_t*>(m_pBase + m_cbPage - cb); }
    void Fill(wchar_t ch, size_t cb = kView)
    {
        for (size_t i = 0; i < cb / sizeof(wchar_t); ++i) {
            Get(cb)[i] = ch;
        }
    }

private:
    BYTE* m_pBase = nullptr;
    size_t m_cbPage = 0;
};

CString Repeated(wchar_t ch, int nCount)
{
    return CString(std::wstring(static_cast<size_t>(nCount), ch).c_str());
}

// A private mapping of the shared one's size: the tests of the running
// copies use the named one.
CHandle PrivateMapping()
{
    return CHandle(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kView, nullptr));
}

bool AtomExists(const CString& strText)
{
    return GlobalFindAtomW(strText) != 0;
}

}  // namespace

TEST(UrlHandOffView, ReadingStopsAtTheViewsEndWhenThePeerWroteNoZero)
{
    CGuardedView view;
    view.Fill(L'A');
    CString strUrl = L"untouched";
    EXPECT_FALSE(CUrlHandOff::ReadFromView(view.Get(), kView, strUrl));
    EXPECT_EQ(strUrl, L"untouched");

    // The zero in the view's last character: the longest URL there is.
    view.Get()[kView / sizeof(wchar_t) - 1] = L'\0';
    ASSERT_TRUE(CUrlHandOff::ReadFromView(view.Get(), kView, strUrl));
    EXPECT_EQ(strUrl.GetLength(), CUrlHandOff::kMaxSharedChars);

    // An odd size holds no more whole characters than the even size below.
    view.Fill(L'B', kView - 1);
    EXPECT_FALSE(CUrlHandOff::ReadFromView(view.Get(kView - 1), kView - 1, strUrl));
    EXPECT_FALSE(CUrlHandOff::ReadFromView(nullptr, kView, strUrl));
    EXPECT_FALSE(CUrlHandOff::ReadFromView(view.Get(), 1, strUrl));
}

TEST(UrlHandOffView, WritingKeepsTheZeroInsideTheViewAndWholeCharacters)
{
    CGuardedView view;
    CString strRead;
    const int nMax = CUrlHandOff::kMaxSharedChars;
    struct {
        CString strUrl;
        int nExpected;
    } cases[] = {
        {Repeated(L'a', nMax), nMax},
        {Repeated(L'b', nMax + 1), nMax},
        {Repeated(L'c', 5000), nMax},
        // A pair that straddles the cut goes as a whole.
        {Repeated(L'd', nMax - 1) + L"\xD83D\xDE00" + L"tail", nMax - 1},
        // A pair that ends right at the cut stays.
        {Repeated(L'e', nMax - 2) + L"\xD83D\xDE00" + L"tail", nMax},
        {CString(), 0},
    };
    for (const auto& c : cases) {
        view.Fill(L'X');
        EXPECT_EQ(CUrlHandOff::WriteToView(view.Get(), kView, c.strUrl), c.nExpected);
        ASSERT_TRUE(CUrlHandOff::ReadFromView(view.Get(), kView, strRead));
        EXPECT_EQ(strRead, c.strUrl.Left(c.nExpected));
        EXPECT_FALSE(strRead.GetLength() > 0 && IS_HIGH_SURROGATE(strRead[strRead.GetLength() - 1]));
    }
    // A view too small for even the zero is left alone.
    EXPECT_EQ(CUrlHandOff::WriteToView(view.Get(1), 1, L"http://a/"), 0);
}

TEST(UrlHandOff, EachLengthTakesItsWayAndArrivesOnce)
{
    CHandle hMapping = PrivateMapping();
    ASSERT_TRUE(hMapping.valid());
    const CString strPrefix = L"http://handoff.example/";
    struct {
        int nLength;
        bool bThroughMapping;
        int nArrives;
    } cases[] = {
        {1, false, 1},
        {255, false, 255},
        {256, true, 256},
        {300, true, 300},
        {CUrlHandOff::kMaxSharedChars, true, CUrlHandOff::kMaxSharedChars},
        {1024, true, CUrlHandOff::kMaxSharedChars},
        {40000, true, CUrlHandOff::kMaxSharedChars},
    };
    EXPECT_EQ(CUrlHandOff::PrepareUrl(CString(), hMapping.get()), 0);
    for (const auto& c : cases) {
        const CString strUrl =
            c.nLength > strPrefix.GetLength() ? strPrefix + Repeated(L'q', c.nLength - strPrefix.GetLength())
                                              : Repeated(L'h', c.nLength);
        const ATOM atom = CUrlHandOff::PrepareUrl(strUrl, hMapping.get());
        ASSERT_NE(atom, 0) << c.nLength;
        EXPECT_EQ(AtomExists(kUseSharedMemory), c.bThroughMapping) << c.nLength;
        CString strTaken;
        ASSERT_TRUE(CUrlHandOff::TakeUrl(atom, hMapping.get(), strTaken)) << c.nLength;
        EXPECT_EQ(strTaken, strUrl.Left(c.nArrives));
        // The atom goes with the taking; the mapping is read only once.
        EXPECT_FALSE(AtomExists(kUseSharedMemory));
        EXPECT_FALSE(AtomExists(strUrl));
        if (c.bThroughMapping) {
            const ATOM again = GlobalAddAtomW(kUseSharedMemory);
            EXPECT_FALSE(CUrlHandOff::TakeUrl(again, hMapping.get(), strTaken));
        }
    }
    // Without a mapping a long URL is not sent at all: the running copy
    // opens its home page instead of a URL someone else left there.
    EXPECT_EQ(CUrlHandOff::PrepareUrl(strPrefix + Repeated(L'z', 400), nullptr), 0);
}

TEST(UrlHandOff, WhatAnotherProcessPostsIsReadWithinItsBounds)
{
    CHandle hMapping = PrivateMapping();
    ASSERT_TRUE(hMapping.valid());
    CLogCapture log;
    CString strUrl = L"home";

    // The mapping named with no terminated URL in it.
    {
        CMappedView view(MapViewOfFile(hMapping.get(), FILE_MAP_WRITE, 0, 0, kView));
        ASSERT_TRUE(view);
        for (size_t i = 0; i < kView / sizeof(wchar_t); ++i) {
            static_cast<wchar_t*>(view.get())[i] = L'x';
        }
    }
    EXPECT_FALSE(CUrlHandOff::TakeUrl(GlobalAddAtomW(kUseSharedMemory), hMapping.get(), strUrl));
    EXPECT_FALSE(AtomExists(kUseSharedMemory));
    EXPECT_TRUE(!log.MessagesContaining(L"holds no terminated URL").empty());
    // The mapping named, and no mapping in this process.
    EXPECT_FALSE(CUrlHandOff::TakeUrl(GlobalAddAtomW(kUseSharedMemory), nullptr, strUrl));
    EXPECT_FALSE(AtomExists(kUseSharedMemory));

    // An atom nobody added, and integer atoms, which name no text.
    const ATOM gone = GlobalAddAtomW(L"http://gone.example/");
    GlobalDeleteAtom(gone);
    EXPECT_FALSE(CUrlHandOff::TakeUrl(gone, hMapping.get(), strUrl));
    EXPECT_FALSE(CUrlHandOff::TakeUrl(1, hMapping.get(), strUrl));
    EXPECT_FALSE(CUrlHandOff::TakeUrl(MAXINTATOM - 1, hMapping.get(), strUrl));
    EXPECT_EQ(strUrl, L"home");
    EXPECT_TRUE(!log.MessagesContaining(L"is no string atom").empty());
}

TEST(UrlHandOff, TheApplicationTakesOnlySixteenBitAtomsFromTheOpenMessage)
{
    // An atom of someone else's that a wide wParam would name once cut to
    // 16 bits: it must survive every message.
    const ATOM other = GlobalAddAtomW(L"another program's atom");
    ASSERT_NE(other, 0);
    CMSDIApp app;
    CLogCapture log;
    for (const WPARAM wParam : {static_cast<WPARAM>(0x10000) | other, static_cast<WPARAM>(0xFFFFFFFF0000) | other,
                                static_cast<WPARAM>(-1)}) {
        MSG msg = {nullptr, WM_MSDI_OPEN_URL, wParam, 0x7FFFFFFF, 0, {0, 0}};
        EXPECT_TRUE(app.HandleThreadMessage(msg));
    }
    EXPECT_EQ(GlobalFindAtomW(L"another program's atom"), other);
    GlobalDeleteAtom(other);

    // A URL handed to a copy with no window layer is taken and dropped.
    const ATOM atom = GlobalAddAtomW(L"http://late.example/");
    MSG msg = {nullptr, WM_MSDI_OPEN_URL, atom, 0, 0, {0, 0}};
    EXPECT_TRUE(app.HandleThreadMessage(msg));
    EXPECT_FALSE(AtomExists(L"http://late.example/"));
    EXPECT_TRUE(!log.MessagesContaining(L"http://late.example/ is not opened").empty());
}
