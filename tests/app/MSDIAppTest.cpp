// The session clean-up's modes, driven on this thread as the application
// thread. A recorded task stands in for the cleaners (whose own runs are
// tested with the stores); the named mutexes, the recovery file, the
// progress dialog and the message boxes are the real ones. The processes of
// StartupTest.cpp run the same modes whole.
#include "app/MSDIApp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "app/RecoveryFile.h"
#include "cleanup/CleanupManager.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

bool MutexExists(const wchar_t* pszName)
{
    return CHandle(OpenMutexW(SYNCHRONIZE, FALSE, pszName)).valid();
}

// The exit code of a posted quit message, taken off the queue; -1 when none.
int TakeQuitCode()
{
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) ? static_cast<int>(msg.wParam) : -1;
}

class CRecordedCleaner : public CBackgroundTask {
public:
    ~CRecordedCleaner() override { StopBackgroundTask(0); }
    BOOL RunBackgroundTask() override
    {
        bCleanupMutexSeen = MutexExists(CMSDIApp::kCleanupMutexName);
        dwThread = GetCurrentThreadId();
        return onRun ? onRun(++nRuns) : (++nRuns, bSucceed);
    }

    BOOL bSucceed = TRUE;
    std::function<BOOL(int)> onRun;
    std::atomic<int> nRuns{0};
    std::atomic<bool> bCleanupMutexSeen{false};
    std::atomic<DWORD> dwThread{0};
};

class CTestApp : public CMSDIApp {
public:
    explicit CTestApp(const CTempFolder& folder) : CMSDIApp(folder / L"stores")
    {
        SetAppDataFolder(folder.Path());
        m_versionInfo.Load();
        SetEndAllThreads([this] {
            ++nEndAllThreads;
            bInstanceMutexAtEnd = MutexExists(strInstanceMutex);
            bCleanupMutexAtEnd = MutexExists(kCleanupMutexName);
        });
    }

    // As start-up leaves things: this copy owns NULVANE_MUTEX (a name of
    // the test's own) and has written its recovery file.
    void StartBrowsing()
    {
        strInstanceMutex = L"NULVANE_MUTEX_TEST_" + CString(FormatString(L"%lu", GetCurrentProcessId()));
        m_hInstanceMutex.reset(CreateMutexW(nullptr, TRUE, strInstanceMutex));
        ASSERT_TRUE(m_hInstanceMutex.valid());
        GetHistory().GetSnapshot().Add(L"Visited: user@http://kept.example/");
        ASSERT_TRUE(WriteRecoveryFile());
        m_bKeepRecoveryFile = FALSE;
    }

    using CMSDIApp::m_bBossPressed;
    CRecordedCleaner cleaner;
    CString strInstanceMutex;
    int nEndAllThreads = 0;
    bool bInstanceMutexAtEnd = true;
    bool bCleanupMutexAtEnd = false;

protected:
    void AssignCleaners(CCleanupManager& manager) override { manager.m_pHistory = &cleaner; }
};

class MSDIAppTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(TakeQuitCode(), -1) << "a quit message was left"; }

    CTempFolder m_folder;
    CLogCapture m_log;
    CTestApp app{m_folder};
};

}  // namespace

TEST_F(MSDIAppTest, TheBossExitWipesOnAWorkerHoldingTheCleanupGateAndEndsOnce)
{
    app.StartBrowsing();
    app.m_bBossPressed = TRUE;
    app.OnCleanup(1);
    EXPECT_EQ(TakeQuitCode(), 0);
    EXPECT_FALSE(m_log.HasMessage(L"CMSDIApp::RunCleanupDlg about to run clean-up dialog"));
    EXPECT_EQ(app.cleaner.nRuns, 1);
    EXPECT_NE(app.cleaner.dwThread, GetCurrentThreadId());
    EXPECT_TRUE(app.cleaner.bCleanupMutexSeen);
    EXPECT_FALSE(TestFileExists(app.GetDataFolder()));
    // The window threads were ended after NULVANE_MUTEX went, with
    // NULVANE_CLEANUP already there for a copy that starts meanwhile; it
    // stays until the exit has dealt with the recovery file.
    EXPECT_EQ(app.nEndAllThreads, 1);
    EXPECT_FALSE(app.bInstanceMutexAtEnd);
    EXPECT_TRUE(app.bCleanupMutexAtEnd);
    EXPECT_TRUE(MutexExists(CMSDIApp::kCleanupMutexName));
    app.FinishSessionEnd();
    EXPECT_FALSE(MutexExists(CMSDIApp::kCleanupMutexName));
    // The Exit command and the last window can both ask: once the quit is
    // posted nothing more runs.
    app.OnCleanup(1);
    EXPECT_EQ(TakeQuitCode(), -1);
    EXPECT_EQ(app.cleaner.nRuns, 1);
}

TEST_F(MSDIAppTest, ExitWithTheDialogRunsOneCleanupWhateverArrivesMeanwhile)
{
    app.StartBrowsing();
    // Dispatched by the dialog's loop while the clean-up runs: a clean-up
    // asked for from a window, and the Exit command's own request.
    PostThreadMessageW(GetCurrentThreadId(), CMSDIApp::WM_MSDI_CLEANUP, 0, 0);
    PostThreadMessageW(GetCurrentThreadId(), CMSDIApp::WM_MSDI_CLEANUP, 1, 0);
    app.OnCleanup(1);
    EXPECT_EQ(TakeQuitCode(), 0);
    EXPECT_EQ(m_log.CountMessage(L"CMSDIApp::OnCleanup start"), 3);
    EXPECT_EQ(app.cleaner.nRuns, 1);
    // This mode leaves the file to the exit.
    EXPECT_TRUE(TestFileExists(app.GetRecoveryFile()));
    app.FinishSessionEnd();
    EXPECT_FALSE(TestFileExists(app.GetDataFolder()));
}

TEST_F(MSDIAppTest, ACleanupWhileBrowsingAsksFirstAndAnExitMeanwhileEndsTheSession)
{
    app.StartBrowsing();
    const std::string recorded = ReadTestFile(app.GetRecoveryFile());
    {
        CMessageBoxAnswerer answerer(L"Nulvane", IDNO);
        app.OnCleanup(0);
        EXPECT_EQ(answerer.Seen().strText, L"Would you like to Nulvane your current session now?");
        EXPECT_EQ(app.cleaner.nRuns, 0);
    }
    {
        // Yes wipes, and the session goes on: its copy, its file, its windows.
        CMessageBoxAnswerer answerer(L"Nulvane", IDYES);
        app.OnCleanup(0);
        EXPECT_TRUE(answerer.Seen().bFound);
        EXPECT_EQ(app.cleaner.nRuns, 1);
        EXPECT_TRUE(app.cleaner.bCleanupMutexSeen);
        EXPECT_FALSE(MutexExists(CMSDIApp::kCleanupMutexName));
        EXPECT_TRUE(MutexExists(app.strInstanceMutex));
        EXPECT_EQ(app.nEndAllThreads, 0);
        EXPECT_EQ(ReadTestFile(app.GetRecoveryFile()), recorded);
    }
    // While it runs, the boss command closes every window and the last one
    // asks for the session's end: it ends after the clean-up.
    const DWORD dwAppThread = GetCurrentThreadId();
    app.cleaner.onRun = [this, dwAppThread](int nRun) {
        if (nRun == 2) {
            app.m_bBossPressed = TRUE;
            PostThreadMessageW(dwAppThread, CMSDIApp::WM_MSDI_CLEANUP, 1, 0);
        }
        return TRUE;
    };
    CMessageBoxAnswerer answerer(L"Nulvane", IDYES);
    app.OnCleanup(0);
    EXPECT_TRUE(answerer.Seen().bFound);
    EXPECT_EQ(TakeQuitCode(), 0);
    EXPECT_EQ(app.cleaner.nRuns, 3);
    EXPECT_EQ(app.nEndAllThreads, 1);
    EXPECT_FALSE(MutexExists(app.strInstanceMutex));
    EXPECT_FALSE(TestFileExists(app.GetRecoveryFile()));
    app.FinishSessionEnd();
}

TEST_F(MSDIAppTest, AnExitAskedForDuringTheQuestionRunsOnlyTheExitCleanup)
{
    app.StartBrowsing();
    app.m_bBossPressed = TRUE;  // the boss command, just after asking for a clean-up
    CMessageBoxAnswerer answerer(L"Nulvane", IDYES, CMSDIApp::WM_MSDI_CLEANUP);
    app.OnCleanup(0);
    EXPECT_TRUE(answerer.Seen().bFound);
    EXPECT_EQ(TakeQuitCode(), 0);
    EXPECT_EQ(app.cleaner.nRuns, 1);
    EXPECT_FALSE(MutexExists(app.strInstanceMutex));
    app.FinishSessionEnd();
}

TEST_F(MSDIAppTest, RecoveryKeepsTheFileOnlyWhenASilentWipeFails)
{
    EXPECT_FALSE(app.RunRecoveryCleanup(TRUE, FALSE));  // no file: nothing to recover
    // What the file holds reaches the cleaners (the processes of
    // StartupTest.cpp judge the rest): here the stores left unread.
    CRecoverySnapshot snapshot;
    snapshot.historyUnscanned.Add(L"C:\\locked\\index.dat");
    CreateTestFolders(app.GetDataFolder());
    ASSERT_TRUE(CRecoveryFile::Write(app.GetRecoveryFile(), snapshot));
    app.cleaner.bSucceed = FALSE;
    ASSERT_TRUE(app.RunRecoveryCleanup(TRUE, FALSE));
    EXPECT_EQ(app.GetHistory().GetUnscannedFiles(), snapshot.historyUnscanned);
    EXPECT_TRUE(TestFileExists(app.GetRecoveryFile()));  // for the next start

    // After the recovery switch the dialog shows, one clean-up whoever asks
    // meanwhile, and the file goes whatever the result.
    PostThreadMessageW(GetCurrentThreadId(), CMSDIApp::WM_MSDI_CLEANUP, 1, 0);
    ASSERT_TRUE(app.RunRecoveryCleanup(FALSE, TRUE));
    EXPECT_EQ(m_log.CountMessage(L"CMSDIApp::RunCleanupDlg about to run clean-up dialog"), 1);
    EXPECT_EQ(m_log.CountMessage(L"CMSDIApp::OnCleanup start"), 1);
    EXPECT_FALSE(TestFileExists(app.GetDataFolder()));
}

TEST_F(MSDIAppTest, ARecoveryFileThatCannotBeWrittenOrDeletedIsReported)
{
    ASSERT_TRUE(app.WriteRecoveryFile());
    {
        CHelperProcess holder;
        ASSERT_TRUE(holder.Start(L"hold-file \"" + app.GetRecoveryFile() + L"\" none"));
        CMessageBoxAnswerer answerer(L"Nulvane", IDOK);  // the program's FileDescription
        EXPECT_FALSE(app.KillRecoveryFile());
        EXPECT_EQ(answerer.Seen().strText, L"IDS_KILLRECOVERYFILE_ERROR");  // the shipped table has no text for it
    }
    EXPECT_TRUE(TestFileExists(app.GetRecoveryFile()));
    // The data folder goes only once nothing is left in it; a temporary
    // file of a write cut short goes with the recovery file.
    WriteTestFile(CRecoveryFile::TempPathOf(app.GetRecoveryFile()), "[Encoding UTF-8]\r\n[Flash");
    WriteTestFile(app.GetDataFolder() + L"\\other.txt", "x");
    EXPECT_TRUE(app.KillRecoveryFile());
    EXPECT_FALSE(TestFileExists(CRecoveryFile::TempPathOf(app.GetRecoveryFile())));
    EXPECT_TRUE(TestFileExists(app.GetDataFolder()));
    ASSERT_TRUE(DeleteFileW(app.GetDataFolder() + L"\\other.txt"));
    EXPECT_TRUE(app.KillRecoveryFile());
    EXPECT_FALSE(TestFileExists(app.GetDataFolder()));
    // An application-data "folder" that is a file: no data folder, no file.
    WriteTestFile(m_folder / L"not-a-folder", "x");
    app.SetAppDataFolder(m_folder / L"not-a-folder");
    EXPECT_FALSE(app.WriteRecoveryFile());
}
