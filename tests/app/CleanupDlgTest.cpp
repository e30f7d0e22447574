#include "app/CleanupDlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "resources/Resource.h"
#include "tests/support/Printers.h"

namespace {

constexpr UINT kWorkingFrames = 7;
constexpr UINT kDoneFrames = 14;

// The shipped dialog's step and row frame counts every 20 ms; a hook may act once.
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
    std::vector<CSample> samples;
    std::function<bool(const CSample&)> act;  // true: acted
    ULONGLONG msActed = 0;

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
        } else if (msActed == 0 && act && act(sample)) {
            msActed = GetTickCount64();
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
};

}  // namespace

TEST(CleanupDlg, TicksEveryRowThenClosesItselfWithIdOk)
{
    // An image that cannot load still lets the sequence complete.
    for (const bool bFail : {false, true}) {
        SCOPED_TRACE(bFail ? "without the working image" : "as shipped");
        CWatchedCleanupDlg dialog(bFail);
        EXPECT_EQ(dialog.DoModal(), IDOK);
        // Each row showed its working animation (when it loads) and ends with its tick.
        for (int row = 0; row < CCleanupDlg::kRowCount; ++row) {
            const auto working = [row](const auto& sample) { return sample.frames[row] == kWorkingFrames; };
            EXPECT_EQ(std::any_of(dialog.samples.begin(), dialog.samples.end(), working), !bFail) << row;
            EXPECT_EQ(dialog.samples.back().frames[row], kDoneFrames) << row;
        }
        EXPECT_EQ(dialog.samples.back().step, 6);
    }
}

TEST(CleanupDlg, EscapeOrTheCloseButtonEndsItAtOnceWithIdOkAtAnyStep)
{
    // The close button at step 0, Escape at step 3.
    for (const int step : {0, 3}) {
        CWatchedCleanupDlg dialog;
        dialog.act = [&dialog, step](const CWatchedCleanupDlg::CSample& sample) {
            const HWND hDlg = dialog.GetSafeHwnd();
            const auto hClose = reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDC_CLEANUP_CLOSE));
            return sample.step == step &&
                   (step == 0 ? PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDC_CLEANUP_CLOSE, BN_CLICKED), hClose)
                              : PostMessageW(GetFocus() != nullptr ? GetFocus() : hDlg, WM_KEYDOWN, VK_ESCAPE, 0));
        };
        EXPECT_EQ(dialog.DoModal(), IDOK) << step;
        EXPECT_LT(GetTickCount64() - dialog.msActed, 250u) << step;
        EXPECT_EQ(dialog.samples.back().step, step);
    }
}
