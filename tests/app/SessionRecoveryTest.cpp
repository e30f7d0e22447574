// A session that ended without its clean-up, for real: the user's stores of
// this Wine prefix are seeded, a browsing start in another process takes its
// snapshots, writes the recovery file and browses, and is killed; the next
// start, a fresh process, finds the file and wipes the session. The trace
// audit, a process of its own, judges the stores before and after.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/ProgramProcess.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

TEST(SessionRecovery, AKilledSessionIsWipedByTheNextStartDownToThePreSessionStores)
{
    CTempFolder work;
    const CUserTraces user(L"RCVR");

    // What the session leaves, from the browsing process itself.
    const CString session = L"http://" + user.tag + L".session.example/";
    const std::vector<CString> script = {
        L"cache\t" + session + L"a.html",
        L"cache\t" + session + L"b.js",
        L"cookie\t" + user.shop + L"\tbasket\t99",
        L"cookie\thttp://" + user.tag + L".tracker.example/\tid\tsession",
        L"history\t" + session + L"a.html",
        L"history\t" + user.page,
        L"file\t" + user.flashSite + L"game.swf\\state.sol\tscore=999999",
        L"file\t" + user.flashSite + L"new.swf\\session.sol\tsession",
        L"file\t" + user.flashSite + L"new.swf\\session.sxx\tsession",
        L"file\t" + user.javaFolder + L"session.jar\tsession",
    };
    std::string text;
    for (const CString& line : script) {
        text += (line + L"\n").ToUtf8();
    }
    WriteTestFile(work / L"script.txt", text);
    const CString recoveryFile = work / L"Nulvane\\recovery.lck";
    {
        CHelperProcess browsing;
        ASSERT_TRUE(browsing.Start(L"session \"" + work.Path() + L"\" \"" + (work / L"script.txt") + L"\""));
        ASSERT_TRUE(TerminateProcess(browsing.Process(), 99));
        WaitForSingleObject(browsing.Process(), 10000);
    }
    ASSERT_TRUE(TestFileExists(recoveryFile));
    const std::vector<std::string> crashed = RunTraceAudit(L"");
    size_t nLeftByCrash = 0;
    for (const char* pszPart : {".session.example", ".tracker.example", "session.sol", "session.jar"}) {
        nLeftByCrash += LinesContaining(crashed, pszPart).size();
    }
    EXPECT_GE(nLeftByCrash, 8u) << "the session left fewer traces than it was told to";

    // The next plain start: a silent recovery clean-up.
    CHelperProcess nextStart;
    ASSERT_TRUE(nextStart.Start(L"recover \"" + work.Path() + L"\" silent \"" + (work / L"log.txt") + L"\""));
    EXPECT_EQ(nextStart.Stop(), 0) << ReadTestFile(work / L"log.txt");
    const std::string log = ReadTestFile(work / L"log.txt");
    EXPECT_NE(log.find("Running cleanup in silent mode"), std::string::npos);
    EXPECT_NE(log.find("Running cleanup in boss/silent mode successful"), std::string::npos);
    EXPECT_FALSE(TestFileExists(recoveryFile));
    EXPECT_FALSE(TestFileExists(work / L"Nulvane"));

    user.ExpectSessionWiped();
    EXPECT_EQ(ReadTestFile(user.flashSite + L"game.swf\\state.sol"), "score=10");
}
