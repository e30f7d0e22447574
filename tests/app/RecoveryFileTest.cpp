#include "app/RecoveryFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

CStringSet Set(std::initializer_list<const wchar_t*> items)
{
    CStringSet set;
    for (const wchar_t* item : items) {
        set.Add(item);
    }
    return set;
}

CRecoverySnapshot ReadBack(const CString& path)
{
    CRecoverySnapshot snapshot;
    CTime written;
    EXPECT_TRUE(CRecoveryFile::Read(path, snapshot, written));
    return snapshot;
}

}  // namespace

TEST(RecoveryFile, WritesTheSectionsInOrderWithCrLf)
{
    CTempFolder folder;
    const CString path = folder / L"recovery.lck";
    CRecoverySnapshot snapshot;
    snapshot.flash = Set({L"C:\\f\\a.sol"});
    snapshot.history = Set({L"Visited: u@http://b/", L"Visited: u@http://a/"});
    snapshot.cookies = Set({L"notprotectedmode\nhttp://a/\nx=1;Expires = Tue, 01-Jan-2030 00-00-00 GMT\n0"});
    ASSERT_TRUE(CRecoveryFile::Write(path, snapshot));
    EXPECT_EQ(ReadTestFile(path),
              "[Encoding UTF-8]\r\n"
              "[Flash Cookies]\r\nC:\\f\\a.sol\r\n"
              "[Java Cache]\r\n"
              "[History]\r\nVisited: u@http://a/\r\nVisited: u@http://b/\r\n"
              "[Cookies]\r\nnotprotectedmode\r\nhttp://a/\r\nx=1;Expires = Tue, 01-Jan-2030 00-00-00 GMT\r\n0\r\n");
    EXPECT_FALSE(TestFileExists(path + L".tmp"));
}

TEST(RecoveryFile, EveryEntryRoundTripsWhateverItsCharacters)
{
    CTempFolder folder;
    const CString path = folder / L"recovery.lck";
    CRecoverySnapshot snapshot;
    snapshot.flash = Set({L"C:\\Users\\\u0418\u0432\u0430\u043d\\#SharedObjects\\\u4e2d\u6587\\a.sol", L"C:\\plain.sol"});
    snapshot.java = Set({L"C:\\java\\caf\u00e9\\x.jar"});
    snapshot.history = Set({L"Visited: u@http://\u00fcber.example/\u00e4"});
    snapshot.cookies = Set({L"protectedmode\nhttp://a.example/\nn=v\u00e9;Expires = Tue, 01-Jan-2030 00-00-00 GMT\n1",
                            L"notprotectedmode\nhttps://b.example/p\nn=2;Expires = Tue, 01-Jan-2030 00-00-00 GMT;Secure\n8193"});
    ASSERT_TRUE(CRecoveryFile::Write(path, snapshot));
    const CRecoverySnapshot back = ReadBack(path);
    EXPECT_TRUE(back.flash == snapshot.flash);
    EXPECT_TRUE(back.java == snapshot.java);
    EXPECT_TRUE(back.history == snapshot.history);
    EXPECT_TRUE(back.cookies == snapshot.cookies);
}

TEST(RecoveryFile, UnreadHistoryStoresTravelWhereEarlierReadersSkip)
{
    CTempFolder folder;
    const CString path = folder / L"recovery.lck";
    CRecoverySnapshot snapshot;
    snapshot.history = Set({L"Visited: u@http://a/"});
    snapshot.historyUnscanned = Set({L"C:\\Users\\\u00e9\\History.IE5\\index.dat"});
    ASSERT_TRUE(CRecoveryFile::Write(path, snapshot));
    const std::string content = ReadTestFile(path);
    EXPECT_EQ(content.rfind("[Encoding UTF-8]\r\n[Unscanned History]\r\nC:\\Users\\\xc3\xa9\\History.IE5\\index.dat\r\n"
                            "[Flash Cookies]\r\n",
                            0),
              0u);
    const CRecoverySnapshot back = ReadBack(path);
    EXPECT_EQ(back.historyUnscanned, snapshot.historyUnscanned);
    EXPECT_EQ(back.history, snapshot.history);
    EXPECT_TRUE(back.flash.IsEmpty());
}

TEST(RecoveryFile, EarlierAndDamagedFilesAreReadAsWritten)
{
    const struct {
        const char* pszName;
        std::string content;
        CRecoverySnapshot expected;
    } cases[] = {
        // Written before the encoding marker existed: ANSI text, and a
        // section of a still earlier version first.
        {"narrow",
         "[ActiveX Controls]\r\n{CLSID}\r\n[Flash Cookies]\r\nC:\\old\\caf\xe9.sol\r\n[Java Cache]\r\nC:\\j\\1.jar\r\n"
         "[History]\r\nVisited: u@http://x/\r\n[Cookies]\r\nnotprotectedmode\r\nhttp://x/\r\nk=v\r\n0\r\n",
         {Set({CString::FromAnsi("C:\\old\\caf\xe9.sol")}), Set({L"C:\\j\\1.jar"}), Set({L"Visited: u@http://x/"}),
          Set({L"notprotectedmode\nhttp://x/\nk=v\n0"}), {}}},
        // A section of an earlier version ends the unscanned one.
        {"old section after the unscanned stores",
         "[Unscanned History]\r\nC:\\h.dat\r\n[ActiveX Controls]\r\n{X}\r\n[Flash Cookies]\r\n",
         {{}, {}, {}, {}, Set({L"C:\\h.dat"})}},
        // Nine cookie lines: two records, the rest dropped.
        {"nine cookie lines",
         "[Flash Cookies]\r\n[Java Cache]\r\n[History]\r\n[Cookies]\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n",
         {{}, {}, {}, Set({L"1\n2\n3\n4", L"5\n6\n7\n8"}), {}}},
        {"ends after the Java header", "[Flash Cookies]\r\nC:\\a.sol\r\nC:\\b.sol\r\n[Java Cache]\r\n",
         {Set({L"C:\\a.sol", L"C:\\b.sol"}), {}, {}, {}, {}}},
        // No "[Java Cache]": the Flash section runs on to the end, taking
        // the later headers as entries, as a reader must not guess.
        {"repeated and missing headers", "junk\r\n[Flash Cookies]\r\n[Flash Cookies]\r\na\r\n[History]\r\nh\r\n",
         {Set({L"a", L"[History]", L"h"}), {}, {}, {}, {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        const CRecoverySnapshot back = CRecoveryFile::Parse(c.content);
        EXPECT_EQ(back.flash, c.expected.flash);
        EXPECT_EQ(back.java, c.expected.java);
        EXPECT_EQ(back.history, c.expected.history);
        EXPECT_EQ(back.cookies, c.expected.cookies);
        EXPECT_EQ(back.historyUnscanned, c.expected.historyUnscanned);
    }
}

TEST(RecoveryFile, AMissingOrHeldFileIsNothingToRecover)
{
    CTempFolder folder;
    const CString path = folder / L"recovery.lck";
    CRecoverySnapshot snapshot;
    snapshot.flash.Add(L"kept");
    CTime written;
    EXPECT_FALSE(CRecoveryFile::Read(path, snapshot, written));
    EXPECT_TRUE(snapshot.flash.Contains(L"kept"));

    ASSERT_TRUE(CRecoveryFile::Write(path, CRecoverySnapshot()));
    // Another copy reading it (it opens without sharing too) keeps this one out.
    CHelperProcess other;
    ASSERT_TRUE(other.Start(L"hold-file \"" + path + L"\" none"));
    EXPECT_FALSE(CRecoveryFile::Read(path, snapshot, written));
    EXPECT_TRUE(snapshot.flash.Contains(L"kept"));
}

TEST(RecoveryFile, AFailedWriteKeepsThePreviousFileWhole)
{
    CTempFolder folder;
    const CString path = folder / L"recovery.lck";
    CRecoverySnapshot first;
    first.flash = Set({L"C:\\first.sol"});
    ASSERT_TRUE(CRecoveryFile::Write(path, first));
    const std::string before = ReadTestFile(path);

    // The file cannot be replaced while another process holds it without
    // delete sharing.
    CHelperProcess other;
    ASSERT_TRUE(other.Start(L"hold-file \"" + path + L"\" readwrite"));
    CLogCapture capture;
    CRecoverySnapshot second;
    second.flash = Set({L"C:\\second.sol"});
    EXPECT_FALSE(CRecoveryFile::Write(path, second));
    EXPECT_FALSE(capture.MessagesContaining(L"recovery file").empty());
    other.Stop();
    EXPECT_EQ(ReadTestFile(path), before);
    EXPECT_FALSE(TestFileExists(path + L".tmp"));

    EXPECT_FALSE(CRecoveryFile::Write(folder / L"no\\such\\folder\\recovery.lck", second));
}

TEST(RecoveryFile, MutatedFilesAreReadWithoutHarm)
{
    CTempFolder folder;
    const CString path = folder / L"recovery.lck";
    CRecoverySnapshot snapshot;
    snapshot.flash = Set({L"C:\\a\\b.sol", L"C:\\\u4e2d.sol"});
    snapshot.java = Set({L"C:\\j\\x.jar"});
    snapshot.history = Set({L"Visited: u@http://a/"});
    snapshot.cookies = Set({L"notprotectedmode\nhttp://a/\nk=v\n0"});
    ASSERT_TRUE(CRecoveryFile::Write(path, snapshot));
    const std::string original = ReadTestFile(path);

    std::mt19937 random(20261206);
    for (int i = 0; i < 10000; ++i) {
        std::string mutated = original;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % (mutated.size() + 1);
            switch (random() % 5) {
            case 0:
                if (at < mutated.size()) {
                    mutated[at] = static_cast<char>(random() % 256);
                }
                break;
            case 1:
                mutated.insert(at, 1, "\r\n\0[]\xff"[random() % 6]);
                break;
            case 2:
                mutated.erase(at, random() % 16);
                break;
            case 3:
                mutated.resize(at);
                break;
            default:
                mutated.insert(at, std::string(random() % 3000, static_cast<char>(random() % 256)));
            }
        }
        CRecoverySnapshot back;
        // Most cases in memory; every 50th through a real file.
        if (i % 50 == 0) {
            WriteTestFile(path, mutated);
            CTime written;
            ASSERT_TRUE(CRecoveryFile::Read(path, back, written)) << "case " << i;
            EXPECT_EQ(back.cookies, CRecoveryFile::Parse(mutated).cookies);
        } else {
            back = CRecoveryFile::Parse(mutated);
        }
        // Whatever the damage, a cookie record is four lines and no other
        // entry spans a line.
        for (const CString& cookie : back.cookies) {
            ASSERT_EQ(std::count(cookie.Str().begin(), cookie.Str().end(), L'\n'), 3) << "case " << i;
        }
        for (const CStringSet* set : {&back.flash, &back.java, &back.history}) {
            for (const CString& entry : *set) {
                ASSERT_EQ(entry.Find(L'\n'), -1) << "case " << i;
            }
        }
    }
}
