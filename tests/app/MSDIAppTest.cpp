// The session clean-up's modes, driven on this thread as the application
// thread. A recorded task stands in for the cleaners (whose own runs are
// tested with the stores); the named mutexes, the recovery file, the
// progress dialog and the message boxes are the real ones.
#include "app/MSDIApp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <initializer_list>

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
    CHandle h(OpenMutexW(SYNCHRONIZE, FALSE, pszName));
    return h.valid();
}

// The exit code of a posted quit message, taken off the queue; -1 when none.
int TakeQuitCode()
{
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) ? static_cast<int>(msg.wParam) : -1;
}

// True when the messages appear in this order (others may come between).
bool InOrder(const std::vector<CString>& messages, std::initializer_list<const wchar_t*> expected)
{
    auto it = messages.begin();
    for (const wchar_t* pszWanted : expected) {
        it = std::find(it, messages.end(), CString(pszWanted));
        if (it == messages.end()) {
            return false;
        }
        ++it;
    }
    return true;
}

class CRecordedCleaner : public CBackgroundTask {
public:
    ~CRecordedCleaner() override { StopBackgroundTask(0); }
    BOOL RunBackgroundTask() override
    {
        bCleanupMutexSeen = MutexExists(CMSDIApp::kCleanupMutexName);
        dwThread = GetCurrentThreadId();
        ++nRuns;
        return onRun ? onRun(nRuns) : bSucceed;
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

TEST_F(MSDIAppTest, ExitAfterTheBossCommandWipesSilentlyRemovesTheFileAtOnceAndQuitsWithZero)
{
    app.StartBrowsing();
    app.m_bBossPressed = TRUE;

    app.OnCleanup(1);
    EXPECT_EQ(TakeQuitCode(), 0);
    EXPECT_TRUE(InOrder(m_log.Messages(), {L"CMSDIApp::OnCleanup start", L"Running cleanup in boss mode",
                                           L"Running cleanup in boss/silent mode successful",
                                           L"CMSDIApp::OnCleanup cleaup successfull",
                                           L"CMSDIApp::OnCleanup deleted language manager",
                                           L"CMSDIApp::OnCleanup about to quit with exit code 0",
                                           L"CMSDIApp::OnCleanup end"}));
    EXPECT_FALSE(m_log.HasMessage(L"Running cleanup in silent mode"));
    EXPECT_FALSE(m_log.HasMessage(L"CMSDIApp::RunCleanupDlg about to run clean-up dialog"));
    EXPECT_EQ(app.cleaner.nRuns, 1);
    EXPECT_NE(app.cleaner.dwThread, GetCurrentThreadId());
    EXPECT_TRUE(app.cleaner.bCleanupMutexSeen);
    EXPECT_FALSE(TestFileExists(app.GetRecoveryFile()));
    EXPECT_FALSE(TestFileExists(app.GetDataFolder()));

    // The window threads were ended after NULVANE_MUTEX went, with
    // NULVANE_CLEANUP already there for a copy that starts meanwhile; it
    // stays until the exit has dealt with the recovery file.
    EXPECT_EQ(app.nEndAllThreads, 1);
    EXPECT_FALSE(app.bInstanceMutexAtEnd);
    EXPECT_TRUE(app.bCleanupMutexAtEnd);
    EXPECT_FALSE(MutexExists(app.strInstanceMutex));
    EXPECT_TRUE(MutexExists(CMSDIApp::kCleanupMutexName));
    app.FinishSessionEnd();
    EXPECT_FALSE(MutexExists(CMSDIApp::kCleanupMutexName));

    // The Exit command and the last window can both ask: once the quit is
    // posted nothing more runs.
    m_log.Clear();
    app.OnCleanup(1);
    EXPECT_EQ(m_log.Messages(), (std::vector<CString>{L"CMSDIApp::OnCleanup start", L"CMSDIApp::OnCleanup end"}));
    EXPECT_EQ(TakeQuitCode(), -1);
    EXPECT_EQ(app.cleaner.nRuns, 1);
}

TEST_F(MSDIAppTest, AFailedExitCleanupQuitsWithTenAndKeepsTheRecoveryFile)
{
    app.StartBrowsing();
    app.m_bBossPressed = TRUE;
    app.cleaner.bSucceed = FALSE;
    const std::string recorded = ReadTestFile(app.GetRecoveryFile());

    app.OnCleanup(1);
    EXPECT_EQ(TakeQuitCode(), 10);
    EXPECT_TRUE(InOrder(m_log.Messages(), {L"Running cleanup in boss/silent mode unsuccessful",
                                           L"CMSDIApp::OnCleanup cleanup failed",
                                           L"CMSDIApp::OnCleanup about to quit with exit code 10"}));
    EXPECT_TRUE(app.KeepsRecoveryFile());
    app.FinishSessionEnd();
    EXPECT_EQ(ReadTestFile(app.GetRecoveryFile()), recorded);
    EXPECT_FALSE(MutexExists(CMSDIApp::kCleanupMutexName));
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
    const std::vector<CString> messages = m_log.Messages();
    EXPECT_TRUE(InOrder(messages, {L"CMSDIApp::OnCleanup start", L"Starting automatic cleanup at exit",
                                   L"CMSDIApp::RunCleanupDlg about to run clean-up dialog",
                                   L"CMSDIApp::OnCleanup start", L"CMSDIApp::OnCleanup end",
                                   L"CMSDIApp::OnCleanup start", L"CMSDIApp::OnCleanup end",
                                   L"CMSDIApp::RunCleanupDlg finished to run clean-up dialog",
                                   L"CMSDIApp::RunCleanupDlg cleanup was successful",
                                   L"CMSDIApp::OnCleanup cleaup successfull",
                                   L"CMSDIApp::OnCleanup about to quit with exit code 0"}));
    EXPECT_EQ(m_log.CountMessage(L"CMSDIApp::OnCleanup start"), 3);
    EXPECT_EQ(app.cleaner.nRuns, 1);
    EXPECT_TRUE(app.IsExiting());

    // This mode leaves the file to the exit.
    EXPECT_TRUE(TestFileExists(app.GetRecoveryFile()));
    app.FinishSessionEnd();
    EXPECT_FALSE(TestFileExists(app.GetRecoveryFile()));
    EXPECT_FALSE(TestFileExists(app.GetDataFolder()));
}

TEST_F(MSDIAppTest, ACleanupWhileBrowsingAsksFirstAndLeavesTheSessionOpen)
{
    app.StartBrowsing();
    const std::string recorded = ReadTestFile(app.GetRecoveryFile());
    m_log.Clear();
    {
        CMessageBoxAnswerer answerer(L"Nulvane", IDNO);
        app.OnCleanup(0);
        const CMessageBoxAnswerer::CSeen& seen = answerer.Seen();
        ASSERT_TRUE(seen.bFound);
        EXPECT_EQ(seen.strText, L"Would you like to Nulvane your current session now?");
        EXPECT_EQ(seen.hIcon, LoadIconW(nullptr, IDI_QUESTION));
        EXPECT_TRUE(seen.bForeground);
    }
    // No changes nothing.
    EXPECT_EQ(m_log.Messages(), (std::vector<CString>{L"CMSDIApp::OnCleanup start", L"CMSDIApp::OnCleanup end"}));
    EXPECT_EQ(app.cleaner.nRuns, 0);

    CMessageBoxAnswerer answerer(L"Nulvane", IDYES);
    app.OnCleanup(0);
    EXPECT_TRUE(answerer.Seen().bFound);
    EXPECT_TRUE(InOrder(m_log.Messages(), {L"Starting manual cleanup", L"CMSDIApp::RunCleanupDlg cleanup was successful",
                                           L"CMSDIApp::OnCleanup end"}));
    EXPECT_EQ(app.cleaner.nRuns, 1);
    EXPECT_TRUE(app.cleaner.bCleanupMutexSeen);
    EXPECT_FALSE(MutexExists(CMSDIApp::kCleanupMutexName));
    // Yes wipes, and the session goes on: its copy, its file, its windows.
    EXPECT_FALSE(app.IsExiting());
    EXPECT_TRUE(MutexExists(app.strInstanceMutex));
    EXPECT_EQ(app.nEndAllThreads, 0);
    EXPECT_EQ(ReadTestFile(app.GetRecoveryFile()), recorded);
    EXPECT_FALSE(m_log.HasMessage(L"CMSDIApp::OnCleanup deleted language manager"));
}

TEST_F(MSDIAppTest, AnExitAskedForDuringACleanupWhileBrowsingEndsTheSessionAfterIt)
{
    app.StartBrowsing();
    // While the manual clean-up runs, the boss command closes every window
    // and the last one asks for the session's end.
    const DWORD dwAppThread = GetCurrentThreadId();
    app.cleaner.onRun = [this, dwAppThread](int nRun) {
        if (nRun == 1) {
            app.m_bBossPressed = TRUE;
            PostThreadMessageW(dwAppThread, CMSDIApp::WM_MSDI_CLEANUP, 1, 0);
        }
        return TRUE;
    };

    CMessageBoxAnswerer answerer(L"Nulvane", IDYES);
    app.OnCleanup(0);
    EXPECT_TRUE(answerer.Seen().bFound);
    EXPECT_EQ(TakeQuitCode(), 0);
    EXPECT_TRUE(InOrder(m_log.Messages(), {L"Starting manual cleanup", L"CMSDIApp::OnCleanup start",
                                           L"CMSDIApp::OnCleanup end",
                                           L"CMSDIApp::RunCleanupDlg cleanup was successful",
                                           L"CMSDIApp::OnCleanup the session ended during the clean-up, ending it now",
                                           L"Running cleanup in boss mode",
                                           L"CMSDIApp::OnCleanup about to quit with exit code 0",
                                           L"CMSDIApp::OnCleanup end"}));
    EXPECT_EQ(app.cleaner.nRuns, 2);
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
    EXPECT_FALSE(m_log.HasMessage(L"Starting manual cleanup"));
    EXPECT_TRUE(m_log.HasMessage(L"CMSDIApp::OnCleanup the session ended during the clean-up, ending it now"));
    EXPECT_FALSE(MutexExists(app.strInstanceMutex));
    app.FinishSessionEnd();
}

TEST_F(MSDIAppTest, RecoveryLoadsTheFileIntoTheCleanersAndWipesSilently)
{
    CRecoverySnapshot snapshot;
    const CString flashRoot = m_folder / L"stores\\Macromedia\\Flash Player\\#SharedObjects\\K\\";
    snapshot.flash.Add(flashRoot + L"site.example\\a.sol");
    snapshot.java.Add(L"C:\\java\\cache\\6.0\\x.jar");
    snapshot.history.Add(L"Visited: user@http://\u00e9t\u00e9.example/");
    snapshot.historyUnscanned.Add(L"C:\\locked\\index.dat");
    snapshot.cookies.Add(L"notprotectedmode\nhttp://a.example/\nk=v;Expires = Tue, 01-Jan-2030 00-00-00 GMT\n0");
    CreateTestFolders(app.GetDataFolder());
    ASSERT_TRUE(CRecoveryFile::Write(app.GetRecoveryFile(), snapshot));
    {
        CHandle h(CreateFileW(app.GetRecoveryFile(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        const FILETIME start = CTime(1700000000).ToFileTime();
        ASSERT_TRUE(SetFileTime(h.get(), nullptr, nullptr, &start));
    }
    // A backup the interrupted session left, of a file that was there before.
    const CString backup = flashRoot + L"site.example\\a.sol.bak";
    WriteTestFile(backup, "before");
    app.cleaner.bSucceed = FALSE;

    ASSERT_TRUE(app.RunRecoveryCleanup(TRUE, FALSE));
    EXPECT_EQ(app.GetTempInternetFiles().GetStartTime(), CTime(1700000000));
    EXPECT_EQ(app.GetFlashSharedObjects().GetStartSet(), snapshot.flash);
    EXPECT_EQ(app.GetFlashSharedObjects().GetRestoreList(), std::vector<CString>{backup});
    EXPECT_EQ(app.GetJavaFiles().GetStartSet(), snapshot.java);
    EXPECT_EQ(app.GetHistory().GetSnapshot(), snapshot.history);
    EXPECT_EQ(app.GetHistory().GetUnscannedFiles(), snapshot.historyUnscanned);
    EXPECT_EQ(app.GetCookies().GetSnapshot(), snapshot.cookies);
    EXPECT_TRUE(InOrder(m_log.Messages(),
                        {L"Running cleanup in silent mode", L"Running cleanup in boss/silent mode unsuccessful"}));
    EXPECT_TRUE(app.cleaner.bCleanupMutexSeen);
    EXPECT_FALSE(MutexExists(CMSDIApp::kCleanupMutexName));
    EXPECT_TRUE(TestFileExists(app.GetRecoveryFile()));  // for the next start

    app.cleaner.bSucceed = TRUE;
    ASSERT_TRUE(app.RunRecoveryCleanup(TRUE, FALSE));
    EXPECT_TRUE(m_log.HasMessage(L"Running cleanup in boss/silent mode successful"));
    EXPECT_FALSE(TestFileExists(app.GetRecoveryFile()));
    EXPECT_FALSE(TestFileExists(app.GetDataFolder()));
}

TEST_F(MSDIAppTest, RecoveryAfterTheSwitchShowsTheDialogAndRemovesTheFileWhateverTheResult)
{
    app.GetJavaFiles().GetStartSet().Add(L"C:\\java\\a.jar");
    ASSERT_TRUE(app.WriteRecoveryFile());
    app.cleaner.bSucceed = FALSE;
    // Whoever asks during it, no second clean-up starts inside this one.
    PostThreadMessageW(GetCurrentThreadId(), CMSDIApp::WM_MSDI_CLEANUP, 1, 0);

    ASSERT_TRUE(app.RunRecoveryCleanup(FALSE, TRUE));
    EXPECT_TRUE(InOrder(m_log.Messages(), {L"Running cleanup from recovery file",
                                           L"CMSDIApp::RunCleanupDlg about to run clean-up dialog",
                                           L"CMSDIApp::OnCleanup start", L"CMSDIApp::OnCleanup end",
                                           L"CMSDIApp::RunCleanupDlg finished to run clean-up dialog",
                                           L"CMSDIApp::RunCleanupDlg cleanup failed"}));
    EXPECT_EQ(m_log.CountMessage(L"CMSDIApp::RunCleanupDlg about to run clean-up dialog"), 1);
    EXPECT_FALSE(TestFileExists(app.GetRecoveryFile()));
    EXPECT_FALSE(TestFileExists(app.GetDataFolder()));
}

TEST_F(MSDIAppTest, TheRecoveryFileRecordsTheCleanersSetsOrSaysItCouldNot)
{
    // None yet: nothing to recover, no clean-up.
    EXPECT_FALSE(app.RunRecoveryCleanup(TRUE, FALSE));
    EXPECT_EQ(app.cleaner.nRuns, 0);
    app.GetFlashSharedObjects().GetStartSet().Add(L"C:\\flash\\\u4e2d.sol");
    app.GetJavaFiles().GetStartSet().Add(L"C:\\java\\a.jar");
    app.GetHistory().GetSnapshot().Add(L"Visited: user@http://a.example/");
    app.GetCookies().GetSnapshot().Add(L"notprotectedmode\nhttp://a.example/\nk=v\n0");
    ASSERT_TRUE(app.WriteRecoveryFile());
    CRecoverySnapshot back;
    CTime written;
    ASSERT_TRUE(CRecoveryFile::Read(app.GetRecoveryFile(), back, written));
    EXPECT_EQ(back.flash, app.GetFlashSharedObjects().GetStartSet());
    EXPECT_EQ(back.java, app.GetJavaFiles().GetStartSet());
    EXPECT_EQ(back.history, app.GetHistory().GetSnapshot());
    EXPECT_EQ(back.cookies, app.GetCookies().GetSnapshot());

    // An application-data "folder" that is a file: no data folder, no file.
    WriteTestFile(m_folder / L"not-a-folder", "x");
    app.SetAppDataFolder(m_folder / L"not-a-folder");
    EXPECT_FALSE(app.WriteRecoveryFile());
    EXPECT_EQ(m_log.MessagesContaining(L"Failed to create data folder").size(), 1u);
}

TEST_F(MSDIAppTest, ARecoveryFileThatCannotBeDeletedIsReportedAndKept)
{
    ASSERT_TRUE(app.WriteRecoveryFile());
    {
        CHelperProcess holder;
        ASSERT_TRUE(holder.Start(L"hold-file \"" + app.GetRecoveryFile() + L"\" none"));
        CMessageBoxAnswerer answerer(L"Nulvane", IDOK);  // the program's FileDescription
        EXPECT_FALSE(app.KillRecoveryFile());
        const CMessageBoxAnswerer::CSeen& seen = answerer.Seen();
        ASSERT_TRUE(seen.bFound);
        EXPECT_EQ(seen.strText, L"IDS_KILLRECOVERYFILE_ERROR");  // the shipped table has no text for it
        EXPECT_EQ(seen.hIcon, LoadIconW(nullptr, IDI_ERROR));
    }
    EXPECT_TRUE(TestFileExists(app.GetRecoveryFile()));

    // The data folder goes only once nothing is left in it; a temporary
    // file of a write cut short goes with the recovery file.
    WriteTestFile(CRecoveryFile::TempPathOf(app.GetRecoveryFile()), "[Encoding UTF-8]\r\n[Flash");
    WriteTestFile(app.GetDataFolder() + L"\\other.txt", "x");
    EXPECT_TRUE(app.KillRecoveryFile());
    EXPECT_FALSE(TestFileExists(app.GetRecoveryFile()));
    EXPECT_FALSE(TestFileExists(CRecoveryFile::TempPathOf(app.GetRecoveryFile())));
    EXPECT_TRUE(TestFileExists(app.GetDataFolder()));
    ASSERT_TRUE(DeleteFileW(app.GetDataFolder() + L"\\other.txt"));
    EXPECT_TRUE(app.KillRecoveryFile());
    EXPECT_FALSE(TestFileExists(app.GetDataFolder()));
}
