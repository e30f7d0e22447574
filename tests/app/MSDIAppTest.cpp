// The clean-up modes on this thread, a recorded task as the cleaners (StartupTest.cpp runs them whole).
#include "app/MSDIApp.h"

#include <gtest/gtest.h>

#include <atomic>

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

// A posted quit message's exit code, taken off the queue; -1 when none.
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
        ++nRuns;
        return bSucceed;
    }

    BOOL bSucceed = TRUE;
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

    // As start-up leaves things (NULVANE_MUTEX under a name of the test's own).
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
};

}  // namespace

TEST_F(MSDIAppTest, AnExitWipesOnceOnAWorkerHoldingTheCleanupGateWithOrWithoutTheDialog)
{
    for (const bool bBoss : {true, false}) {
        SCOPED_TRACE(bBoss ? "boss" : "dialog");
        m_log.Clear();
        CTestApp app{m_folder};
        app.StartBrowsing();
        app.m_bBossPressed = bBoss;
        if (!bBoss) {
            // A window's and the Exit command's requests, dispatched meanwhile.
            PostThreadMessageW(GetCurrentThreadId(), CMSDIApp::WM_MSDI_CLEANUP, 0, 0);
            PostThreadMessageW(GetCurrentThreadId(), CMSDIApp::WM_MSDI_CLEANUP, 1, 0);
        }
        app.OnCleanup(1);
        EXPECT_EQ(TakeQuitCode(), 0);
        EXPECT_EQ(m_log.CountMessage(L"CMSDIApp::OnCleanup start"), bBoss ? 1 : 3);
        EXPECT_EQ(m_log.HasMessage(L"CMSDIApp::RunCleanupDlg about to run clean-up dialog"), !bBoss);
        EXPECT_EQ(app.cleaner.nRuns, 1);
        EXPECT_NE(app.cleaner.dwThread, GetCurrentThreadId());
        EXPECT_TRUE(app.cleaner.bCleanupMutexSeen);
        // Windows end after NULVANE_MUTEX goes; NULVANE_CLEANUP stays till the file is dealt with.
        EXPECT_EQ(app.nEndAllThreads, 1);
        EXPECT_FALSE(app.bInstanceMutexAtEnd);
        EXPECT_TRUE(app.bCleanupMutexAtEnd);
        EXPECT_TRUE(MutexExists(CMSDIApp::kCleanupMutexName));
        EXPECT_EQ(TestFileExists(app.GetRecoveryFile()), !bBoss);
        app.FinishSessionEnd();
        EXPECT_FALSE(MutexExists(CMSDIApp::kCleanupMutexName));
        EXPECT_FALSE(TestFileExists(app.GetDataFolder()));
        // Once the quit is posted nothing more runs.
        app.OnCleanup(1);
        EXPECT_EQ(TakeQuitCode(), -1);
        EXPECT_EQ(app.cleaner.nRuns, 1);
    }
}

TEST_F(MSDIAppTest, ACleanupWhileBrowsingAsksFirstAndAnExitMeanwhileEndsTheSession)
{
    CTestApp app{m_folder};
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
    // The boss command, then an exit during the question: one clean-up.
    app.m_bBossPressed = TRUE;
    CMessageBoxAnswerer answerer(L"Nulvane", IDYES, CMSDIApp::WM_MSDI_CLEANUP);
    app.OnCleanup(0);
    EXPECT_TRUE(answerer.Seen().bFound);
    EXPECT_EQ(TakeQuitCode(), 0);
    EXPECT_EQ(app.cleaner.nRuns, 2);
    EXPECT_FALSE(MutexExists(app.strInstanceMutex));
    EXPECT_FALSE(TestFileExists(app.GetRecoveryFile()));
    app.FinishSessionEnd();
}

TEST_F(MSDIAppTest, RecoveryKeepsTheFileOnlyWhenASilentWipeFails)
{
    CTestApp app{m_folder};
    EXPECT_FALSE(app.RunRecoveryCleanup(TRUE, FALSE));  // no file: nothing to recover
    // What the file holds reaches the cleaners: here the stores left unread.
    CRecoverySnapshot snapshot;
    snapshot.historyUnscanned.Add(L"C:\\locked\\index.dat");
    CreateTestFolders(app.GetDataFolder());
    ASSERT_TRUE(CRecoveryFile::Write(app.GetRecoveryFile(), snapshot));
    app.cleaner.bSucceed = FALSE;
    ASSERT_TRUE(app.RunRecoveryCleanup(TRUE, FALSE));
    EXPECT_EQ(app.GetHistory().GetUnscannedFiles(), snapshot.historyUnscanned);
    EXPECT_TRUE(TestFileExists(app.GetRecoveryFile()));  // for the next start

    // With the recovery switch: the dialog, one clean-up, the file goes.
    PostThreadMessageW(GetCurrentThreadId(), CMSDIApp::WM_MSDI_CLEANUP, 1, 0);
    ASSERT_TRUE(app.RunRecoveryCleanup(FALSE, TRUE));
    EXPECT_EQ(m_log.CountMessage(L"CMSDIApp::RunCleanupDlg about to run clean-up dialog"), 1);
    EXPECT_EQ(m_log.CountMessage(L"CMSDIApp::OnCleanup start"), 1);
    EXPECT_FALSE(TestFileExists(app.GetDataFolder()));
}

TEST_F(MSDIAppTest, ARecoveryFileThatCannotBeDeletedIsReportedAndOtherFilesStay)
{
    CTestApp app{m_folder};
    ASSERT_TRUE(app.WriteRecoveryFile());
    {
        CHelperProcess holder;
        ASSERT_TRUE(holder.Start(L"hold-file \"" + app.GetRecoveryFile() + L"\" none"));
        CMessageBoxAnswerer answerer(L"Nulvane", IDOK);  // the program's FileDescription
        EXPECT_FALSE(app.KillRecoveryFile());
        EXPECT_EQ(answerer.Seen().strText, L"IDS_KILLRECOVERYFILE_ERROR");  // the shipped table has no text for it
    }
    EXPECT_TRUE(TestFileExists(app.GetRecoveryFile()));
    // A cut-short write's temporary file goes too; the folder only when empty.
    WriteTestFile(CRecoveryFile::TempPathOf(app.GetRecoveryFile()), "[Encoding UTF-8]\r\n[Flash");
    WriteTestFile(app.GetDataFolder() + L"\\other.txt", "x");
    EXPECT_TRUE(app.KillRecoveryFile());
    EXPECT_FALSE(TestFileExists(CRecoveryFile::TempPathOf(app.GetRecoveryFile())));
    EXPECT_TRUE(TestFileExists(app.GetDataFolder() + L"\\other.txt"));
}
