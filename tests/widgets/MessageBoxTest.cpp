#include "widgets/MessageBox.h"

#include <gtest/gtest.h>

#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/Printers.h"

namespace {

constexpr UINT kThreadMessage = WM_APP + 0x40;

}  // namespace

TEST(RelabelledMessageBox, ShowsTheGivenButtonTextsAndIconInTheForegroundAndReturnsTheButtonsId)
{
    CMessageBox box(nullptr, L"Make it the default?", L"Relabel test", MB_YESNO | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
    box.SetButtonText(IDYES, L"Make Default");
    box.SetButtonText(IDNO, L"Not Now");
    // A second text for one button replaces the first.
    box.SetButtonText(IDNO, L"Not &Now");
    CMessageBoxAnswerer answerer(L"Relabel test", IDNO);
    EXPECT_EQ(box.DoModal(), IDNO);

    const CMessageBoxAnswerer::CSeen& seen = answerer.Seen();
    ASSERT_TRUE(seen.bFound);
    EXPECT_EQ(seen.strText, L"Make it the default?");
    ASSERT_EQ(seen.buttons.size(), 2u);
    EXPECT_EQ(seen.buttons.at(IDYES).strText, L"Make Default");
    EXPECT_EQ(seen.buttons.at(IDNO).strText, L"Not &Now");
    EXPECT_EQ(seen.hIcon, LoadIconW(nullptr, IDI_EXCLAMATION));
    EXPECT_NE(seen.hIcon, LoadIconW(nullptr, IDI_QUESTION));
    EXPECT_TRUE(seen.bForeground);
}

TEST(RelabelledMessageBox, WidensButtonsAndTheBoxForLongTextsAndLeavesShortOnesAsTheSystemMadeThem)
{
    auto show = [](const wchar_t* pszOkText, int nPress) {
        CMessageBox box(nullptr, L"Short", L"Width test", MB_OKCANCEL | MB_ICONINFORMATION);
        if (pszOkText != nullptr) {
            box.SetButtonText(IDOK, pszOkText);
        }
        CMessageBoxAnswerer answerer(L"Width test", nPress);
        EXPECT_EQ(box.DoModal(), nPress);
        return answerer.Seen();
    };
    const CMessageBoxAnswerer::CSeen system = show(nullptr, IDOK);
    const CMessageBoxAnswerer::CSeen shortText = show(L"Go", IDOK);
    const CMessageBoxAnswerer::CSeen longText = show(L"Continue with the download of this rather large file", IDCANCEL);
    ASSERT_TRUE(system.bFound && shortText.bFound && longText.bFound);
    EXPECT_EQ(system.hIcon, LoadIconW(nullptr, IDI_INFORMATION));

    EXPECT_EQ(shortText.buttons.at(IDOK).strText, L"Go");
    for (int nId : {IDOK, IDCANCEL}) {
        EXPECT_TRUE(EqualRect(&shortText.buttons.at(nId).rc, &system.buttons.at(nId).rc)) << nId;
    }
    EXPECT_EQ(shortText.rcClient.right, system.rcClient.right);

    const CMessageBoxAnswerer::CButton& ok = longText.buttons.at(IDOK);
    const CMessageBoxAnswerer::CButton& cancel = longText.buttons.at(IDCANCEL);
    const RECT& rcSystem = system.buttons.at(IDOK).rc;
    EXPECT_GT(ok.rc.right - ok.rc.left, ok.nTextWidth);
    // Both keep one width, side by side in one row, inside the wider box.
    EXPECT_EQ(ok.rc.right - ok.rc.left, cancel.rc.right - cancel.rc.left);
    EXPECT_LE(ok.rc.right, cancel.rc.left);
    EXPECT_GE(ok.rc.left, 0);
    EXPECT_LE(cancel.rc.right, longText.rcClient.right);
    EXPECT_GT(longText.rcClient.right, system.rcClient.right);
    EXPECT_EQ(ok.rc.top, rcSystem.top);
    EXPECT_EQ(ok.rc.bottom - ok.rc.top, rcSystem.bottom - rcSystem.top);
}

TEST(RelabelledMessageBox, HandsMessagesPostedToTheThreadToItsHandlerInsteadOfDroppingThem)
{
    std::vector<MSG> received;
    CMessageBox box(nullptr, L"Waiting", L"Thread message test", MB_OK);
    box.SetThreadMessageHandler([&](const MSG& msg) { received.push_back(msg); });
    CMessageBoxAnswerer answerer(L"Thread message test", IDOK, kThreadMessage);
    EXPECT_EQ(box.DoModal(), IDOK);
    ASSERT_TRUE(answerer.Seen().bFound);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, kThreadMessage);
    EXPECT_EQ(received[0].wParam, 7u);
    EXPECT_EQ(received[0].lParam, 11);
    MSG left;
    EXPECT_FALSE(PeekMessageW(&left, reinterpret_cast<HWND>(-1), kThreadMessage, kThreadMessage, PM_REMOVE));
}
