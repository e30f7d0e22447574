#include "app/CleanupDlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

#include "resources/Resource.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/WindowCapture.h"

namespace {

constexpr UINT_PTR kSampleTimer = 77;
constexpr UINT kSampleMs = 20;
constexpr int kWorkingFrames = 7;
constexpr int kDoneFrames = 14;
// Far beyond the dialog's own pace: a hang fails the test instead of the suite.
constexpr ULONGLONG kGiveUpMs = 20000;

const wchar_t* const kRowNames[] = {L"History", L"Cookies", L"Temporary Internet Files", L"Index.dat",
                                    L"Flash Cookies"};

// What the five row pictures show at one moment.
struct CSample {
    ULONGLONG ms;
    int step;
    UINT frames[CCleanupDlg::kRowCount];
    bool playing[CCleanupDlg::kRowCount];
};

// The dialog as it ships, watched every 20 ms from its own thread, with a
// hook that acts at chosen moments.
class CWatchedCleanupDlg : public CCleanupDlg {
public:
    CWatchedCleanupDlg() : CCleanupDlg(nullptr, nullptr) {}

    std::vector<CSample> samples;
    std::function<void(CWatchedCleanupDlg&, const CSample&)> onSample;
    std::function<bool(UINT)> failImage;  // true: that image fails to load
    ULONGLONG openedAt = 0;

protected:
    BOOL OnInitDialog() override
    {
        openedAt = GetTickCount64();
        const BOOL bResult = CCleanupDlg::OnInitDialog();
        SetTimer(GetSafeHwnd(), kSampleTimer, kSampleMs, nullptr);
        return bResult;
    }

    void OnTimer(UINT_PTR nIDEvent) override
    {
        if (nIDEvent != kSampleTimer) {
            CCleanupDlg::OnTimer(nIDEvent);
            return;
        }
        CSample sample = {GetTickCount64() - openedAt, GetStep(), {}, {}};
        for (int i = 0; i < kRowCount; ++i) {
            sample.frames[i] = RowPicture(i).GetFrameCount();
            sample.playing[i] = RowPicture(i).IsPlaying();
        }
        samples.push_back(sample);
        if (sample.ms > kGiveUpMs) {
            ADD_FAILURE() << "the dialog did not end by itself";
            EndDialog(-2);
        } else if (onSample) {
            onSample(*this, sample);
        }
    }

    BOOL LoadRowImage(CAnimatedPicture& picture, UINT nImageId) override
    {
        if (failImage && failImage(nImageId)) {
            picture.UnLoad();
            return FALSE;
        }
        return CCleanupDlg::LoadRowImage(picture, nImageId);
    }
};

// The time a row picture takes to play an image, from the image itself.
UINT PlayTimeOf(UINT nGifId)
{
    CAnimatedPicture picture;
    EXPECT_TRUE(picture.LoadResource(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(nGifId), L"GIF"));
    UINT total = 0;
    for (UINT i = 0; i < picture.GetFrameCount(); ++i) {
        total += picture.GetFrameDelay(i);
    }
    return total;
}

// When the dialog should end by itself: the first step after 500 ms; each row
// then waits for its working animation in 250 ms checks; one more check
// arms the 1500 ms close timer.
ULONGLONG ExpectedSelfCloseMs(UINT nWorkingMs)
{
    const ULONGLONG checksPerRow = (nWorkingMs + CCleanupDlg::kStepMs - 1) / CCleanupDlg::kStepMs;
    return CCleanupDlg::kFirstStepMs + CCleanupDlg::kRowCount * checksPerRow * CCleanupDlg::kStepMs +
           CCleanupDlg::kStepMs + CCleanupDlg::kCloseMs;
}

// First sample index at which a row shows the image with that many frames.
int FirstShowing(const std::vector<CSample>& samples, int nRow, UINT nFrames)
{
    for (size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].frames[nRow] == nFrames) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The caption and row labels from the language table, in Arial on white,
// and the window's icons.
void ExpectTableTextsInArialOnWhite(CCleanupDlg& dlg)
{
    const HWND hWnd = dlg.GetSafeHwnd();
    wchar_t text[256] = {};
    GetWindowTextW(hWnd, text, 256);
    EXPECT_STREQ(text, L"Cleaning...");
    const int labelIds[] = {IDC_CLEANUP_LABEL_HISTORY, IDC_CLEANUP_LABEL_COOKIES, IDC_CLEANUP_LABEL_TEMP_FILES,
                            IDC_CLEANUP_LABEL_INDEX_DAT, IDC_CLEANUP_LABEL_FLASH};
    for (int i = 0; i < 5; ++i) {
        const HWND hLabel = dlg.GetDlgItem(labelIds[i]);
        GetWindowTextW(hLabel, text, 256);
        EXPECT_STREQ(text, kRowNames[i]);
        LOGFONTW font = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(hLabel, WM_GETFONT, 0, 0)), sizeof(font), &font);
        EXPECT_STREQ(font.lfFaceName, L"Arial");
        EXPECT_EQ(font.lfHeight, 18);
        HDC hDc = GetDC(hLabel);
        auto hBrush = reinterpret_cast<HBRUSH>(
            SendMessageW(hWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hDc), reinterpret_cast<LPARAM>(hLabel)));
        ReleaseDC(hLabel, hDc);
        LOGBRUSH brush = {};
        ASSERT_NE(GetObjectW(hBrush, sizeof(brush), &brush), 0);
        EXPECT_EQ(brush.lbColor, RGB(255, 255, 255));
    }
    EXPECT_NE(SendMessageW(hWnd, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(hWnd, WM_GETICON, ICON_SMALL, 0), 0);
}

HWND FocusOrDialog(HWND hDialog)
{
    HWND hFocus = GetFocus();
    return hFocus != nullptr ? hFocus : hDialog;
}

}  // namespace

TEST(CleanupDlg, ShowsTheTableTextsTicksTheRowsInOrderThenClosesItselfWithIdOk)
{
    CLogCapture capture;
    CWatchedCleanupDlg dialog;
    bool bShotTaken = false;
    dialog.onSample = [&](CWatchedCleanupDlg& dlg, const CSample& sample) {
        if (dlg.samples.size() == 1) {
            ExpectTableTextsInArialOnWhite(dlg);
        }
        // Mid-sequence: two rows ticked, the third working.
        if (!bShotTaken && sample.frames[2] == kWorkingFrames && dlg.RowPicture(2).GetCurrentFrame() >= 4) {
            bShotTaken = true;
            RedrawWindow(dlg.GetSafeHwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            // The ticks of the first two rows are on screen in green.
            EXPECT_GT(CWindowImage::Capture(dlg.GetSafeHwnd()).CountNear(RGB(0x2E, 0x9E, 0x5B), 24), 2 * 200);
        }
    };
    const ULONGLONG start = GetTickCount64();
    const INT_PTR result = dialog.DoModal();
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(bShotTaken);

    const UINT workingMs = PlayTimeOf(IDR_GIF_CLEANUP_WORKING);
    const ULONGLONG expected = ExpectedSelfCloseMs(workingMs);
    EXPECT_GE(elapsed + 50, expected);
    EXPECT_LE(elapsed, expected + 1500);

    // Each row shows its working animation, then its tick, and the next row
    // starts only when the previous one has its tick.
    const std::vector<CSample>& samples = dialog.samples;
    ASSERT_FALSE(samples.empty());
    int nPreviousDone = -1;
    for (int row = 0; row < CCleanupDlg::kRowCount; ++row) {
        SCOPED_TRACE(testing::Message() << "row " << row);
        const int working = FirstShowing(samples, row, kWorkingFrames);
        const int done = FirstShowing(samples, row, kDoneFrames);
        ASSERT_GE(working, 0);
        ASSERT_GT(done, working);
        EXPECT_GE(working, nPreviousDone);
        // The tick waits until the working animation has played out.
        EXPECT_GE(samples[done].ms - samples[working].ms + 2 * kSampleMs, workingMs);
        for (int i = 0; i < done; ++i) {
            for (int later = row + 1; later < CCleanupDlg::kRowCount; ++later) {
                EXPECT_EQ(samples[i].frames[later], 0u) << "row " << later << " began before row " << row
                                                        << " was ticked, at " << samples[i].ms << " ms";
            }
        }
        nPreviousDone = done;
    }
    for (int row = 0; row < CCleanupDlg::kRowCount; ++row) {
        EXPECT_EQ(samples.back().frames[row], static_cast<UINT>(kDoneFrames));
    }
    EXPECT_EQ(samples.back().step, 6);

    const std::vector<CString> messages = capture.Messages();
    auto it = messages.begin();
    for (const wchar_t* pszLine :
         {L"start CCleanupDlg::OnInitDialog()", L"end CCleanupDlg::OnInitDialog()",
          L"CCleanupDlg::OnTimer about to KillTimer", L"CCleanupDlg::OnTimer before CDialog::EndDialog(IDOK)",
          L"CCleanupDlg::OnTimer after CDialog::EndDialog(IDOK)"}) {
        it = std::find(it, messages.end(), CString(pszLine));
        EXPECT_NE(it, messages.end()) << "missing or out of order: " << CString(pszLine).ToUtf8();
    }
}

TEST(CleanupDlg, EscapeEndsItAtOnceWithIdOkAtAnyStep)
{
    for (int step : {0, 3, 6}) {
        SCOPED_TRACE(testing::Message() << "step " << step);
        CLogCapture capture;
        CWatchedCleanupDlg dialog;
        ULONGLONG pressedAt = 0;
        dialog.onSample = [&](CWatchedCleanupDlg& dlg, const CSample& sample) {
            if (pressedAt == 0 && sample.step == step) {
                pressedAt = GetTickCount64();
                PostMessageW(FocusOrDialog(dlg.GetSafeHwnd()), WM_KEYDOWN, VK_ESCAPE, 0);
                PostMessageW(FocusOrDialog(dlg.GetSafeHwnd()), WM_KEYUP, VK_ESCAPE, 0);
            }
        };
        EXPECT_EQ(dialog.DoModal(), IDOK);
        ASSERT_NE(pressedAt, 0u);
        EXPECT_LT(GetTickCount64() - pressedAt, 250u);
        EXPECT_FALSE(capture.HasMessage(L"CCleanupDlg::OnTimer about to KillTimer"));
    }
}

TEST(CleanupDlg, TheCloseButtonEndsItAtOnceWithIdOk)
{
    CWatchedCleanupDlg dialog;
    ULONGLONG clickedAt = 0;
    dialog.onSample = [&](CWatchedCleanupDlg& dlg, const CSample& sample) {
        if (sample.step == 2 && clickedAt == 0) {
            RECT rc;
            GetWindowRect(dlg.GetDlgItem(IDC_CLEANUP_CLOSE), &rc);
            SetForegroundWindow(dlg.GetSafeHwnd());
            SetCursorPos((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
            clickedAt = GetTickCount64();
            INPUT click[2] = {};
            click[0].type = click[1].type = INPUT_MOUSE;
            click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
            click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
            SendInput(2, click, sizeof(INPUT));
        }
    };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    ASSERT_NE(clickedAt, 0u);
    EXPECT_LT(GetTickCount64() - clickedAt, 250u);
    // Ended by the click, well before the rows were all ticked.
    EXPECT_EQ(dialog.samples.back().step, 2);
}

TEST(CleanupDlg, AnImageThatCannotLoadStillLetsTheSequenceComplete)
{
    CWatchedCleanupDlg dialog;
    // No row ever shows its working animation.
    dialog.failImage = [](UINT nImageId) { return nImageId == IDR_GIF_CLEANUP_WORKING; };
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(dialog.DoModal(), IDOK);
    const ULONGLONG elapsed = GetTickCount64() - start;
    // Every check finds the row finished: 500 ms, five 250 ms checks, one
    // more, then the close timer.
    EXPECT_GE(elapsed + 50, 500u + 5 * 250 + 250 + 1500);
    EXPECT_LE(elapsed, 500u + 5 * 250 + 250 + 1500 + 1500);
    for (int row = 0; row < CCleanupDlg::kRowCount; ++row) {
        EXPECT_EQ(FirstShowing(dialog.samples, row, kWorkingFrames), -1);
        EXPECT_EQ(dialog.samples.back().frames[row], static_cast<UINT>(kDoneFrames));
    }
}
