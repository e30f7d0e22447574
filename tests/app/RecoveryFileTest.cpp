#include "app/RecoveryFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

CStringSet Set(std::initializer_list<CString> items)
{
    CStringSet set;
    for (const CString& item : items) {
        set.Add(item);
    }
    return set;
}

void ExpectSame(const CRecoverySnapshot& back, const CRecoverySnapshot& expected)
{
    using S = CRecoverySnapshot;
    for (const auto section : {&S::flash, &S::java, &S::history, &S::cookies, &S::historyUnscanned}) {
        EXPECT_EQ(back.*section, expected.*section);
    }
}

}  // namespace

TEST(RecoveryFile, WritesSortedUtf8SectionsWholeOrNotAtAllAndReadsThemBack)
{
    CTempFolder folder;
    const CString path = folder / L"recovery.lck";
    CRecoverySnapshot snapshot;
    snapshot.flash = Set({L"C:\\\u0418\u0432\u0430\u043d\\\u4e2d.sol"});
    snapshot.historyUnscanned = Set({L"C:\\\u00e9\\index.dat"});
    snapshot.sessionStart = CFileTime(134095824001234567ULL);
    snapshot.history = Set({L"Visited: u@http://b/", L"Visited: u@http://a/"});
    snapshot.cookies =
        Set({L"protectedmode\nhttp://a/\nn=v\u00e9\n1", L"notprotectedmode\nhttps://b/\nn=2;Secure\n8193"});
    // Sorted, unread history stores first (earlier readers skip them), every header.
    const std::string content =
        "[Encoding UTF-8]\r\n[Session Start 134095824001234567]\r\n[Unscanned History]\r\nC:\\\xc3\xa9\\index.dat\r\n[Flash Cookies]\r\n"
        "C:\\\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd\\\xe4\xb8\xad.sol\r\n[Java Cache]\r\n"
        "[History]\r\nVisited: u@http://a/\r\nVisited: u@http://b/\r\n[Cookies]\r\nnotprotectedmode\r\nhttps://b/\r\n"
        "n=2;Secure\r\n8193\r\nprotectedmode\r\nhttp://a/\r\nn=v\xc3\xa9\r\n1\r\n";
    CRecoverySnapshot back;
    CFileTime written;
    EXPECT_FALSE(CRecoveryFile::Read(path, back, written));
    ASSERT_TRUE(CRecoveryFile::Write(path, snapshot));
    EXPECT_EQ(ReadTestFile(path), content);
    EXPECT_FALSE(TestFileExists(path + L".tmp"));
    ASSERT_TRUE(CRecoveryFile::Read(path, back, written));
    ExpectSame(back, snapshot);
    EXPECT_EQ(back.sessionStart, snapshot.sessionStart);

    // Held without delete sharing, the file cannot be replaced: the old one stays.
    CHelperProcess other;
    ASSERT_TRUE(other.Start(L"hold-file \"" + path + L"\" readwrite"));
    EXPECT_FALSE(CRecoveryFile::Write(path, CRecoverySnapshot()));
    other.Stop();
    EXPECT_EQ(ReadTestFile(path), content);
    EXPECT_FALSE(TestFileExists(path + L".tmp"));
    EXPECT_FALSE(CRecoveryFile::Write(folder / L"no\\such\\folder\\recovery.lck", snapshot));
}

TEST(RecoveryFile, EarlierAndDamagedFilesAreReadAsWritten)
{
    const struct {
        const char* pszName;
        std::string content;
        CRecoverySnapshot expected;
    } cases[] = {
        // From before the encoding marker: ANSI, an older version's section first.
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
        // No "[Java Cache]": the Flash section runs to the end (a reader must not guess).
        {"repeated and missing headers", "junk\r\n[Flash Cookies]\r\n[Flash Cookies]\r\na\r\n[History]\r\nh\r\n",
         {Set({L"a", L"[History]", L"h"}), {}, {}, {}, {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        ExpectSame(CRecoveryFile::Parse(c.content), c.expected);
    }

    // The session start is decimal digits that fit 64 bits, or none at all.
    for (const auto& [line, ticks] : {std::pair{"[Session Start 42]", 42ULL}, {"[Session Start 4x2]", 0ULL},
                                      {"[Session Start 18446744073709551615]", ~0ULL},
                                      {"[Session Start 18446744073709551616]", 0ULL},
                                      {"[Session Start ]", 0ULL}, {"[Session Start -1]", 0ULL}}) {
        const std::string content = std::string(line) + "\r\n[Unscanned History]\r\nC:\\h.dat\r\n[Flash Cookies]\r\n";
        const CRecoverySnapshot read = CRecoveryFile::Parse(content);
        EXPECT_EQ(read.sessionStart, CFileTime(ticks)) << line;
        EXPECT_EQ(read.historyUnscanned, Set({L"C:\\h.dat"})) << line;
    }
    // A recovery works from the recorded start, unless there is none or it
    // is later than the file that records it.
    CRecoverySnapshot snapshot;
    for (const auto& [recorded, start] : {std::pair{0ULL, 100ULL}, {90ULL, 90ULL}, {100ULL, 100ULL}, {101ULL, 100ULL}}) {
        snapshot.sessionStart = CFileTime(recorded);
        EXPECT_EQ(CRecoveryFile::SessionStartOf(snapshot, CFileTime(100)), CFileTime(start)) << recorded;
    }
}

TEST(RecoveryFile, MutatedFilesAreReadWithoutHarm)
{
    CTempFolder folder;
    const CString path = folder / L"recovery.lck";
    const std::string original =
        "[Encoding UTF-8]\r\n[Unscanned History]\r\nC:\\h.dat\r\n[Flash Cookies]\r\nC:\\\xe4\xb8\xad.sol\r\n"
        "[Java Cache]\r\nC:\\j.jar\r\n[History]\r\nVisited: u@http://a/\r\n[Cookies]\r\nnotprotectedmode\r\n"
        "http://a/\r\nk=v\r\n0\r\n";

    std::mt19937 random(20261206);
    for (int i = 0; i < 10000; ++i) {
        std::string mutated = original;
        for (int e = 1 + static_cast<int>(random() % 8); e > 0; --e) {
            const size_t at = random() % (mutated.size() + 1);
            const auto kind = random() % 5;
            if (kind == 0 && at < mutated.size()) {
                mutated[at] = static_cast<char>(random() % 256);
            } else if (kind == 1) {
                mutated.insert(at, 1, "\r\n\0[]\xff"[random() % 6]);
            } else if (kind == 2) {
                mutated.erase(at, random() % 16);
            } else if (kind == 3) {
                mutated.resize(at);
            } else if (kind == 4) {
                mutated.insert(at, std::string(random() % 3000, static_cast<char>(random() % 256)));
            }
        }
        CRecoverySnapshot back = CRecoveryFile::Parse(mutated);
        // Every 50th through a real file too.
        CFileTime written;
        if (i % 50 == 0) {
            WriteTestFile(path, mutated);
            ASSERT_TRUE(CRecoveryFile::Read(path, back, written)) << "case " << i;
        }
        // Whatever the damage, a cookie is four lines and no other entry spans two.
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
