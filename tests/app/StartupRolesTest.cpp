// The program's roles, each run as a process of its own under Wine: the
// registration run, the clean-up run, a browsing copy whose clean-up fails,
// and browsing copies killed at fixed points between the recovery file's
// writing and the end of their clean-up, whose session the next run wipes
// down to the user's stores as they were. The trace audit, a process of its
// own, judges the user's stores before and after.
#include <windows.h>

#include <gtest/gtest.h>

#include "framework/Registry.h"
#include "shell/DefaultBrowser.h"
#include "tests/app/ProgramProcess.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr DWORD kWindowTimeoutMs = 60000;
constexpr DWORD kExitTimeoutMs = 90000;

CString OwnPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// A clean-up run after an unfinished session: 0, and the file is gone.
void RunSilentCleanup(const CTempFolder& work, const wchar_t* pszLogName)
{
    CProgramProcess cleanup;
    ASSERT_TRUE(cleanup.Start(L"--silentcleanup", work / pszLogName));
    EXPECT_EQ(cleanup.WaitForExit(kExitTimeoutMs), 0) << cleanup.Log();
    EXPECT_TRUE(cleanup.LogHas("Running cleanup in boss/silent mode successful")) << cleanup.Log();
    EXPECT_FALSE(TestFileExists(UserRecoveryFile()));
}

}  // namespace

TEST(StartupRoles, RegisterAndCleanupRunsEndWithZeroAndTouchOnlyTheirValues)
{
    PrepareForBrowsingStart();
    const CLeftoverSessionWiper wiper;
    CTempFolder work;
    const CRegistry user(HKEY_CURRENT_USER);
    const CRegistry machine(HKEY_LOCAL_MACHINE);
    // The registration is for the launcher: this test program.
    CDefaultBrowser browser(OwnPath());
    const CString clientKey = L"SOFTWARE\\Clients\\StartMenuInternet\\" + browser.GetClientName();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, clientKey);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\FTP", L"Use Web Based FTP");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"software\\nulvane");

    // "--register" first: the registration, nothing else.
    CProgramProcess registration;
    ASSERT_TRUE(registration.Start(L"--register http://ignored.example/", work / L"register.log"));
    EXPECT_EQ(registration.WaitForExit(kExitTimeoutMs), 0);
    EXPECT_TRUE(registration.LogHas("CDefaultBrowser::RegisterMachineWide() end, registered = 1")) << registration.Log();
    EXPECT_TRUE(registration.LogHas("ParseCommandLine() returned false,  Going to Exit"));
    EXPECT_FALSE(registration.LogHas("Other version is running"));
    CString strCommand;
    EXPECT_EQ(machine.ReadString(clientKey + L"\\shell\\open\\command", nullptr, strCommand), ERROR_SUCCESS);
    EXPECT_EQ(strCommand, L"\"" + OwnPath() + L"\"");
    CString strFolder, strName;
    EXPECT_EQ(user.ReadString(L"software\\nulvane", L"path", strFolder), ERROR_SUCCESS);
    EXPECT_EQ(user.ReadString(L"software\\nulvane", L"EXEName", strName), ERROR_SUCCESS);
    EXPECT_EQ(strFolder + L"\\" + strName, OwnPath());

    // Later on the line "--register" is skipped like any switch; this is a
    // clean-up run with no recovery file: nothing to wipe, and it ends.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, clientKey);
    CProgramProcess cleanup;
    ASSERT_TRUE(cleanup.Start(L"--silentcleanup --register", work / L"cleanup.log"));
    EXPECT_EQ(cleanup.WaitForExit(kExitTimeoutMs), 0);
    EXPECT_FALSE(cleanup.LogHas("RegisterMachineWide")) << cleanup.Log();
    EXPECT_TRUE(cleanup.LogHas("CMSDIApp::InitInstance() #####Silent Cleanup#####"));
    EXPECT_TRUE(cleanup.LogHas("exiting as was either silent or recovery cleanup"));
    EXPECT_FALSE(cleanup.LogHas("Running cleanup")) << cleanup.Log();
    EXPECT_FALSE(cleanup.LogHas("opening the first window"));
    EXPECT_FALSE(machine.KeyExists(clientKey));
    EXPECT_FALSE(TestFileExists(UserRecoveryFile()));
    // Only the version and the launcher are written; the browsing settings
    // are not.
    DWORD dwVersion = 0;
    EXPECT_EQ(user.ReadDword(L"software\\nulvane", L"Version", dwVersion), ERROR_SUCCESS);
    EXPECT_EQ(dwVersion, 1024u);
    CString strFtp;
    EXPECT_NE(user.ReadString(L"Software\\Microsoft\\FTP", L"Use Web Based FTP", strFtp), ERROR_SUCCESS);
}

TEST(StartupRoles, TheCleanupGateIsWaitedForWhileAnotherProgramHoldsItAndOnlyPassedThrough)
{
    PrepareForBrowsingStart();
    const CLeftoverSessionWiper wiper;
    CTempFolder work;
    const wchar_t* const pszGate = L"6176ED1D-8863-40ca-AB73-2AA541FB9DC8";
    CHelperProcess holder;
    ASSERT_TRUE(holder.Start(CString(L"own-mutex ") + pszGate));
    CProgramProcess cleanup;
    ASSERT_TRUE(cleanup.Start(L"--cleanup --silentcleanup", work / L"gate.log"));
    ASSERT_TRUE(cleanup.WaitForLog("CMSDIApp::WaitForCleanupGate waiting for", 30000)) << cleanup.Log();
    EXPECT_EQ(cleanup.WaitForExit(1000), -1) << "the run went on while the gate was held";
    EXPECT_EQ(holder.Stop(), 0);
    EXPECT_EQ(cleanup.WaitForExit(kExitTimeoutMs), 0) << cleanup.Log();
    EXPECT_TRUE(cleanup.LogHas("exiting as was either silent or recovery cleanup"));
    // Passed through: the gate is left to whoever comes next.
    EXPECT_FALSE(NamedMutexExists(pszGate));

    // A free gate is not waited for at all.
    CProgramProcess free;
    ASSERT_TRUE(free.Start(L"--silentcleanup --cleanup", work / L"free.log"));
    EXPECT_EQ(free.WaitForExit(kExitTimeoutMs), 0);
    EXPECT_FALSE(free.LogHas("WaitForCleanupGate waiting")) << free.Log();
}

TEST(StartupRoles, AFailedExitCleanupEndsWithTenAndTheNextRunFinishesIt)
{
    PrepareForBrowsingStart();
    const CLeftoverSessionWiper wiper;
    CTempFolder work;
    const CString tag = UniqueTag();
    const CString javaFolder = AppDataFolder() + L"\\Sun\\Java\\Deployment\\cache\\6.0\\" + tag;
    const CString heldFile = javaFolder + L"\\held.jar";

    CProgramProcess browsing;
    ASSERT_TRUE(browsing.Start(L"http://" + tag + L".example/", work / L"browsing.log"));
    const HWND hFrame = browsing.WaitForWindow(kFrameClass, kWindowTimeoutMs);
    ASSERT_NE(hFrame, nullptr) << browsing.Log();
    // A file of the session that another process holds without sharing:
    // the Java cache cleaner cannot delete it, four times over.
    WriteTestFile(heldFile, "session");
    {
        CHelperProcess holder;
        ASSERT_TRUE(holder.Start(L"hold-file \"" + heldFile + L"\" none"));
        ASSERT_TRUE(PostMessageW(hFrame, WM_CLOSE, 0, 0));
        EXPECT_EQ(browsing.WaitForExit(kExitTimeoutMs), 10) << browsing.Log();
        EXPECT_TRUE(browsing.LogHas("m_pJavaFiles->RunBackgroundTask() result = false"));
        EXPECT_TRUE(browsing.LogHas("CMSDIApp::OnCleanup cleanup failed"));
        EXPECT_TRUE(browsing.LogHas("CMSDIApp::ExitInstance() about to exit with nRes = 10"));
        EXPECT_TRUE(TestFileExists(UserRecoveryFile()));
        EXPECT_TRUE(TestFileExists(heldFile));
    }
    // Let go, the next run wipes what is left.
    RunSilentCleanup(work, L"cleanup.log");
    EXPECT_FALSE(TestFileExists(heldFile));
    RemoveTestTree(javaFolder);
}

TEST(StartupRoles, AKillAnywhereBetweenRecordAndWipeLeavesAFileTheNextRunWipesFrom)
{
    PrepareForBrowsingStart();
    const CUserTraces user(L"KILL");
    const CLeftoverSessionWiper wiper;
    CTempFolder work;
    const struct {
        const char* pszName;
        // The log text the program freezes at; empty: killed while it
        // browses.
        const wchar_t* pszFreezeAt;
        bool bCloseFirst;
    } points[] = {
        {"while browsing", L"", false},
        {"during the start-up cookie removal", L"removing cookies", false},
        {"in the middle of the exit clean-up", L"Notify of m_pHistory start", true},
    };
    int nRun = 0;
    for (const auto& point : points) {
        SCOPED_TRACE(point.pszName);
        ++nRun;
        CProgramProcess browsing;
        ASSERT_TRUE(browsing.Start(L"", work / FormatString(L"browsing%d.log", nRun), point.pszFreezeAt));
        HWND hFrame = nullptr;
        if (point.pszFreezeAt[0] == L'\0' || point.bCloseFirst) {
            hFrame = browsing.WaitForWindow(kFrameClass, kWindowTimeoutMs);
            ASSERT_NE(hFrame, nullptr) << browsing.Log();
        } else {
            ASSERT_TRUE(browsing.WaitUntilFrozen(kWindowTimeoutMs)) << browsing.Log();
        }
        // What the session leaves in every store, the pre-session cookie
        // changed among them.
        CUserTraces::SetCookie(user.shop, L"basket=99" + CString(CUserTraces::kExpiry));
        CUserTraces::SetCookie(L"http://" + user.tag + L".tracker.example/", L"id=" + user.tag + CUserTraces::kExpiry);
        const CString session = FormatString(L"http://%s.session.example/%d.html", user.tag.GetString(), nRun);
        ASSERT_FALSE(AddCacheEntry(session, "session").IsEmpty());
        ASSERT_TRUE(AddHistoryEntry(session));
        ASSERT_TRUE(AddHistoryEntry(user.page));  // visited again
        WriteTestFile(user.flashSite + L"game.swf\\state.sol", "score=999");
        WriteTestFile(user.flashSite + L"new.swf\\session.sol", "session");
        WriteTestFile(user.flashSite + L"new.swf\\session.sxx", "session");
        WriteTestFile(user.javaFolder + L"session.jar", "session");
        if (point.bCloseFirst) {
            ASSERT_TRUE(PostMessageW(hFrame, WM_CLOSE, 0, 0));
            ASSERT_TRUE(browsing.WaitUntilFrozen(kExitTimeoutMs)) << browsing.Log();
            // Frozen where the cookies are back and the history is not wiped.
            EXPECT_TRUE(browsing.LogHas("m_pCookies->RunBackgroundTask() result = true"));
        }
        browsing.Kill();
        ASSERT_TRUE(TestFileExists(UserRecoveryFile()));

        RunSilentCleanup(work, FormatString(L"cleanup%d.log", nRun));
        // The audit compares the Flash file's bytes and times: reading it
        // here would change its last access before the next session.
        user.ExpectSessionWiped();
    }
}
