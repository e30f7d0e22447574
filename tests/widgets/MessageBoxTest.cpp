#include "widgets/MessageBox.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/Printers.h"

// The box shows the caller's button texts (the last one given for a button)
// and icon in the foreground, returns the pressed button's id, and hands a
// message posted to its thread to the handler instead of dropping it.
TEST(RelabelledMessageBox, ShowsTheGivenTextsAndHandsThreadMessagesToItsHandler)
{
    constexpr UINT kThreadMessage = WM_APP + 0x40;
    CMessageBox box(nullptr, L"Make it the default?", L"Relabel test",
                    MB_YESNO | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
    box.SetButtonText(IDYES, L"Make Default");
    box.SetButtonText(IDNO, L"Not Now");
    box.SetButtonText(IDNO, L"Not &Now");
    std::vector<MSG> received;
    box.SetThreadMessageHandler([&](const MSG& msg) { received.push_back(msg); });
    CMessageBoxAnswerer answerer(L"Relabel test", IDNO, kThreadMessage);
    EXPECT_EQ(box.DoModal(), IDNO);

    const CMessageBoxAnswerer::CSeen& seen = answerer.Seen();
    ASSERT_TRUE(seen.bFound && seen.buttons.size() == 2);
    EXPECT_EQ(seen.strText + L"|" + seen.buttons.at(IDYES).strText + L"|" + seen.buttons.at(IDNO).strText,
              L"Make it the default?|Make Default|Not &Now");
    EXPECT_TRUE(seen.hIcon == LoadIconW(nullptr, IDI_EXCLAMATION) && seen.bForeground);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, kThreadMessage);
    EXPECT_EQ(std::make_pair(received[0].wParam, received[0].lParam), std::make_pair(WPARAM{7}, LPARAM{11}));
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
    EXPECT_EQ(shortText.buttons.at(IDOK).strText, L"Go");
    for (int nId : {IDOK, IDCANCEL}) {
        EXPECT_TRUE(EqualRect(&shortText.buttons.at(nId).rc, &system.buttons.at(nId).rc)) << nId;
    }
    EXPECT_EQ(shortText.rcClient.right, system.rcClient.right);

    // Both wider than the long text, of one width, side by side in the
    // system's row, inside the wider box.
    const RECT& ok = longText.buttons.at(IDOK).rc;
    const RECT& cancel = longText.buttons.at(IDCANCEL).rc;
    const RECT& rcSystem = system.buttons.at(IDOK).rc;
    EXPECT_GT(ok.right - ok.left, longText.buttons.at(IDOK).nTextWidth);
    EXPECT_EQ(ok.right - ok.left, cancel.right - cancel.left);
    EXPECT_TRUE(ok.left >= 0 && ok.right <= cancel.left && cancel.right <= longText.rcClient.right);
    EXPECT_GT(longText.rcClient.right, system.rcClient.right);
    EXPECT_TRUE(ok.top == rcSystem.top && ok.bottom == rcSystem.bottom);
}
