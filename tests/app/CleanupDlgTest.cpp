#include "app/CleanupDlg.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "resources/Resource.h"
#include "tests/support/Printers.h"

namespace {

constexpr UINT kWorkingFrames = 7;
constexpr UINT kDoneFrames = 14;

// The dialog as it ships, its step and its five row pictures' frame counts
// sampled every 20 ms from its own thread, with a hook that may act once.
class CWatchedCleanupDlg : public CCleanupDlg {
public:
    struct CSample {
        ULONGLONG ms;
        int step;
        UINT frames[kRowCount];
    };

    explicit CWatchedCleanupDlg(bool bFailWorkingImage = false)
        : CCleanupDlg(nullptr, nullptr), m_bFailWorkingImage(bFailWorkingImage)
    {
    }
    // The time from opening, and from the hook's action, to the end.
    INT_PTR Run(ULONGLONG& msTotal, ULONGLONG& msAfterAction)
    {
        const INT_PTR result = DoModal();
        msTotal = GetTickCount64() - m_openedAt;
        msAfterAction = GetTickCount64() - m_actedAt;
        return result;
    }
    // The first sample at which a row shows the image with that many frames.
    int FirstShowing(int nRow, UINT nFrames) const
    {
        for (size_t i = 0; i < samples.size(); ++i) {
            if (samples[i].frames[nRow] == nFrames) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    std::vector<CSample> samples;
    std::function<bool(const CSample&)> act;  // true: acted

protected:
    BOOL OnInitDialog() override
    {
        m_openedAt = GetTickCount64();
        SetTimer(GetSafeHwnd(), 77, 20, nullptr);
        return CCleanupDlg::OnInitDialog();
    }
    void OnTimer(UINT_PTR nIDEvent) override
    {
        if (nIDEvent != 77) {
            return CCleanupDlg::OnTimer(nIDEvent);
        }
        CSample sample = {GetTickCount64() - m_openedAt, GetStep(), {}};
        for (int i = 0; i < kRowCount; ++i) {
            sample.frames[i] = RowPicture(i).GetFrameCount();
        }
        samples.push_back(sample);
        if (sample.ms > 20000) {
            ADD_FAILURE() << "the dialog did not end by itself";
            EndDialog(-2);
        } else if (m_actedAt == 0 && act && act(sample)) {
            m_actedAt = GetTickCount64();
        }
    }
    BOOL LoadRowImage(CAnimatedPicture& picture, UINT nImageId) override
    {
        if (m_bFailWorkingImage && nImageId == IDR_GIF_CLEANUP_WORKING) {
            picture.UnLoad();
            return FALSE;
        }
        return CCleanupDlg::LoadRowImage(picture, nImageId);
    }

private:
    bool m_bFailWorkingImage;
    ULONGLONG m_openedAt = 0;
    ULONGLONG m_actedAt = 0;
};

}  // namespace

TEST(CleanupDlg, TicksTheRowsOneAfterAnotherThenClosesItselfWithIdOk)
{
    // The working animation's play time, from the image itself.
    CAnimatedPicture working;
    ASSERT_TRUE(working.LoadResource(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_GIF_CLEANUP_WORKING), L"GIF"));
    UINT workingMs = 0;
    for (UINT i = 0; i < working.GetFrameCount(); ++i) {
        workingMs += working.GetFrameDelay(i);
    }
    // An image that cannot load still lets the sequence complete.
    for (const bool bFail : {false, true}) {
        SCOPED_TRACE(bFail ? "without the working image" : "as shipped");
        CWatchedCleanupDlg dialog(bFail);
        ULONGLONG msTotal = 0, msAfter = 0;
        EXPECT_EQ(dialog.Run(msTotal, msAfter), IDOK);
        // 500 ms, then each row waits for its animation in 250 ms checks
        // (one when it has none), one more check, then the close timer.
        const ULONGLONG expected = 500 + 5 * (bFail ? 1 : (workingMs + 249) / 250) * 250 + 250 + 1500;
        EXPECT_GE(msTotal + 50, expected);
        EXPECT_LE(msTotal, expected + 1500);
        // Each row shows its working animation, then its tick once that has
        // played; the next row starts only when the previous one has its tick.
        for (int row = 0; row < CCleanupDlg::kRowCount; ++row) {
            SCOPED_TRACE(testing::Message() << "row " << row);
            const int nWorking = dialog.FirstShowing(row, kWorkingFrames);
            const int nDone = dialog.FirstShowing(row, kDoneFrames);
            ASSERT_GT(nDone, std::max(nWorking, 0));
            EXPECT_EQ(nWorking == -1, bFail);
            if (!bFail) {
                EXPECT_GE(dialog.samples[nDone].ms - dialog.samples[nWorking].ms + 40, workingMs);
            }
            EXPECT_TRUE(row == 4 || dialog.samples[nDone - 1].frames[row + 1] == 0);
            EXPECT_EQ(dialog.samples.back().frames[row], kDoneFrames);
        }
        EXPECT_EQ(dialog.samples.back().step, 6);
    }
}

TEST(CleanupDlg, EscapeOrTheCloseButtonEndsItAtOnceWithIdOkAtAnyStep)
{
    // A negative step: the close button is clicked at that step.
    for (const int step : {0, 3, 6, -2}) {
        SCOPED_TRACE(testing::Message() << "step " << step);
        CWatchedCleanupDlg dialog;
        dialog.act = [&dialog, step](const CWatchedCleanupDlg::CSample& sample) {
            if (sample.step != std::abs(step)) {
                return false;
            }
            const HWND hDlg = dialog.GetSafeHwnd();
            if (step < 0) {
                RECT rc;
                GetWindowRect(GetDlgItem(hDlg, IDC_CLEANUP_CLOSE), &rc);
                SetForegroundWindow(hDlg);
                SetCursorPos((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
                INPUT click[2] = {{INPUT_MOUSE}, {INPUT_MOUSE}};
                click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
                click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
                SendInput(2, click, sizeof(INPUT));
            } else {
                PostMessageW(GetFocus() != nullptr ? GetFocus() : hDlg, WM_KEYDOWN, VK_ESCAPE, 0);
            }
            return true;
        };
        ULONGLONG msTotal = 0, msAfter = 0;
        EXPECT_EQ(dialog.Run(msTotal, msAfter), IDOK);
        EXPECT_LT(msAfter, 250u);
        EXPECT_EQ(dialog.samples.back().step, std::abs(step));
    }
}
