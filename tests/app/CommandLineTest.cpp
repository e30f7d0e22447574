// The command line as the system splits it: which argument is the URL,
// where "--register" counts, how the clean-up switches are found, and what
// odd or hostile text does.
#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/Printers.h"

namespace {

CCommandLine Parse(const wchar_t* pszRaw)
{
    return CCommandLine::FromRaw(pszRaw);
}

}  // namespace

TEST(CommandLine, TheUrlIsTheFirstArgumentThatIsNoSwitch)
{
    struct {
        const wchar_t* pszRaw;
        const wchar_t* pszUrl;
    } cases[] = {
        {L"nulvane.exe", L""},
        {L"nulvane.exe http://a.example/", L"http://a.example/"},
        {L"nulvane.exe -x /y http://a.example/ http://b.example/", L"http://a.example/"},
        {L"nulvane.exe --silentcleanup www.a.example", L"www.a.example"},
        // The program's own name is never the URL, even without a path.
        {L"http://self.example/ -x", L""},
        {L"\"C:\\Program Files\\Nulvane\\nulvane.exe\" \"http://a.example/a b?c=d\"", L"http://a.example/a b?c=d"},
        // An empty argument is no URL; the next plain one is.
        {L"nulvane.exe \"\" file.html", L"file.html"},
        {L"nulvane.exe /register -register", L""},
        {L"nulvane.exe \"http://unclosed.example/ -x", L"http://unclosed.example/ -x"},
        {L"nulvane.exe\thttp://tab.example/", L"http://tab.example/"},
        {L"nulvane.exe http://\x6F22\x5B57.example/\xD83D\xDE00", L"http://\x6F22\x5B57.example/\xD83D\xDE00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c.pszRaw).GetUrl(), CString(c.pszUrl)) << CString(c.pszRaw).ToUtf8();
    }
}

TEST(CommandLine, RegisterCountsOnlyAsTheExactFirstArgument)
{
    EXPECT_TRUE(Parse(L"nulvane.exe --register").IsRegisterRun());
    EXPECT_TRUE(Parse(L"\"C:\\N u\\nulvane.exe\" \"--register\" http://a.example/").IsRegisterRun());
    EXPECT_FALSE(Parse(L"nulvane.exe http://a.example/ --register").IsRegisterRun());
    EXPECT_FALSE(Parse(L"nulvane.exe --REGISTER").IsRegisterRun());
    EXPECT_FALSE(Parse(L"nulvane.exe --registered").IsRegisterRun());
    EXPECT_FALSE(Parse(L"nulvane.exe \"--register \"").IsRegisterRun());
    EXPECT_FALSE(Parse(L"--register").IsRegisterRun());
    EXPECT_FALSE(Parse(L"").IsRegisterRun());
    EXPECT_FALSE(Parse(L"nulvane.exe").IsRegisterRun());
}

TEST(CommandLine, CleanupSwitchesAreFoundInTheRawTextWithTheirBlank)
{
    const CCommandLine silent = Parse(L"nulvane.exe --silentcleanup");
    EXPECT_TRUE(silent.Contains(CCommandLine::kSilentCleanupSwitch));
    EXPECT_FALSE(silent.Contains(CCommandLine::kRecoveryCleanupSwitch));
    EXPECT_FALSE(silent.Contains(CCommandLine::kCleanupGateSwitch));

    // Glued to the program's name, the switch lacks its blank.
    EXPECT_FALSE(Parse(L"\"nulvane.exe\"--silentcleanup").Contains(CCommandLine::kSilentCleanupSwitch));
    EXPECT_FALSE(Parse(L"nulvane.exe --SilentCleanup").Contains(CCommandLine::kSilentCleanupSwitch));
    // Inside a quoted argument it is still in the raw text.
    EXPECT_TRUE(Parse(L"nulvane.exe \"x --recoverycleanup\"").Contains(CCommandLine::kRecoveryCleanupSwitch));
    EXPECT_TRUE(Parse(L"nulvane.exe http://a.example/--cleanup").Contains(CCommandLine::kCleanupGateSwitch));
}

TEST(CommandLine, HostileTextsSplitWithoutHarm)
{
    // One argument of 60,000 characters, and 20,000 arguments.
    const CString strLong = CString(L"http://long.example/") + CString(std::wstring(60000, L'a').c_str());
    EXPECT_EQ(Parse(L"nulvane.exe " + strLong).GetUrl(), strLong);
    CString strMany = L"nulvane.exe";
    for (int i = 0; i < 20000; ++i) {
        strMany += L" -s";
    }
    strMany += L" http://last.example/";
    const CCommandLine many = Parse(strMany);
    EXPECT_EQ(many.GetArguments().size(), 20001u);
    EXPECT_EQ(many.GetUrl(), L"http://last.example/");

    // Random quotes, backslashes, blanks and switch characters: whatever
    // comes out, the URL is one of the arguments and no switch.
    std::mt19937 random(9);
    const wchar_t alphabet[] = L"\"\\ \t-/ab:";
    for (int n = 0; n < 2000; ++n) {
        CString strRaw = L"nulvane.exe ";
        const int nLength = static_cast<int>(random() % 40);
        for (int i = 0; i < nLength; ++i) {
            strRaw += CString(alphabet[random() % (std::size(alphabet) - 1)]);
        }
        const CCommandLine line = Parse(strRaw);
        const CString strUrl = line.GetUrl();
        if (!strUrl.IsEmpty()) {
            EXPECT_NE(strUrl[0], L'-') << strRaw.ToUtf8();
            EXPECT_NE(strUrl[0], L'/') << strRaw.ToUtf8();
            EXPECT_NE(std::find(line.GetArguments().begin(), line.GetArguments().end(), strUrl),
                      line.GetArguments().end());
        }
    }
}
