#include "widgets/MessageBox.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/Printers.h"

// The box shows the last text given for a button, returns the pressed one's id
// and hands a message posted to its thread to the handler. A text too long for
// the system's buttons widens them all alike, in the system's row, and the box.
TEST(RelabelledMessageBox, FitsTheGivenTextsAndHandsThreadMessagesToItsHandler)
{
    constexpr UINT kThreadMessage = WM_APP + 0x40;
    std::vector<CMessageBoxAnswerer::CSeen> seen;  // the system's texts, then a long one
    for (const wchar_t* pszOk : {L"", L"Continue with the download of this rather large file"}) {
        CMessageBox box(nullptr, L"Short", L"Width test", MB_OKCANCEL | MB_ICONINFORMATION);
        if (*pszOk != L'\0') {
            box.SetButtonText(IDOK, L"Not this one");
            box.SetButtonText(IDOK, pszOk);
        }
        std::vector<MSG> received;
        box.SetThreadMessageHandler([&](const MSG& msg) { received.push_back(msg); });
        CMessageBoxAnswerer answerer(L"Width test", IDCANCEL, kThreadMessage);
        EXPECT_EQ(box.DoModal(), IDCANCEL);
        seen.push_back(answerer.Seen());
        ASSERT_TRUE(seen.back().bFound && received.size() == 1);
        EXPECT_TRUE(received[0].message == kThreadMessage && received[0].wParam == 7 && received[0].lParam == 11);
    }
    const RECT &ok = seen[1].buttons.at(IDOK).rc, &cancel = seen[1].buttons.at(IDCANCEL).rc;
    EXPECT_EQ(seen[1].buttons.at(IDOK).strText, L"Continue with the download of this rather large file");
    EXPECT_GT(ok.right - ok.left, seen[1].buttons.at(IDOK).nTextWidth);
    EXPECT_EQ(ok.right - ok.left, cancel.right - cancel.left);
    EXPECT_TRUE(ok.left >= 0 && ok.right <= cancel.left && cancel.right <= seen[1].rcClient.right);
    EXPECT_GT(seen[1].rcClient.right, seen[0].rcClient.right);
    EXPECT_TRUE(ok.top == seen[0].buttons.at(IDOK).rc.top && ok.bottom == seen[0].buttons.at(IDOK).rc.bottom);
}
