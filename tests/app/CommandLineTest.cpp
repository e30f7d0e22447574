#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/Printers.h"

TEST(CommandLine, UrlRegisterAndSwitchesFromOddLines)
{
    const struct {
        const wchar_t* pszRaw;
        const wchar_t* pszUrl;
        bool bRegister;
    } cases[] = {
        {L"nulvane.exe -x /y http://a.example/ http://b.example/", L"http://a.example/", false},
        // The program's own name is never the URL, even without a path.
        {L"http://self.example/ -x", L"", false},
        {L"\"C:\\Program Files\\nulvane.exe\" \"http://a.example/a b?c=d\"", L"http://a.example/a b?c=d", false},
        // An empty argument is no URL; the next plain one is.
        {L"nulvane.exe \"\" file.html", L"file.html", false},
        {L"nulvane.exe \"http://unclosed.example/ -x", L"http://unclosed.example/ -x", false},
        // "--register" counts only as the exact first argument.
        {L"\"C:\\N u\\nulvane.exe\" \"--register\" http://a.example/", L"http://a.example/", true},
        {L"nulvane.exe http://a.example/ --register", L"http://a.example/", false},
        {L"nulvane.exe --REGISTER", L"", false},
        {L"nulvane.exe --registered", L"", false},
        {L"--register", L"", false},
    };
    for (const auto& c : cases) {
        const CCommandLine line = CCommandLine::FromRaw(c.pszRaw);
        EXPECT_EQ(line.GetUrl(), CString(c.pszUrl)) << CString(c.pszRaw).ToUtf8();
        EXPECT_EQ(line.IsRegisterRun(), c.bRegister) << CString(c.pszRaw).ToUtf8();
    }
    // Switches are found in the raw text with their blank, whatever quotes.
    EXPECT_TRUE(CCommandLine::FromRaw(L"n.exe --silentcleanup").Contains(CCommandLine::kSilentCleanupSwitch));
    EXPECT_FALSE(CCommandLine::FromRaw(L"n.exe --silentcleanup").Contains(CCommandLine::kCleanupGateSwitch));
    EXPECT_FALSE(CCommandLine::FromRaw(L"\"n.exe\"--silentcleanup").Contains(CCommandLine::kSilentCleanupSwitch));
    EXPECT_TRUE(CCommandLine::FromRaw(L"n.exe \"x --recoverycleanup\"").Contains(CCommandLine::kRecoveryCleanupSwitch));
}

TEST(CommandLine, HostileTextsSplitWithoutHarm)
{
    // One argument of 60,000 characters, and 20,000 arguments.
    const CString strLong = L"http://long.example/" + CString(std::wstring(60000, L'a').c_str());
    EXPECT_EQ(CCommandLine::FromRaw(L"nulvane.exe " + strLong).GetUrl(), strLong);
    CString strMany = L"nulvane.exe";
    for (int i = 0; i < 20000; ++i) {
        strMany += L" -s";
    }
    const CCommandLine many = CCommandLine::FromRaw(strMany + L" http://last.example/");
    EXPECT_EQ(many.GetArguments().size(), 20001u);
    EXPECT_EQ(many.GetUrl(), L"http://last.example/");

    // Random quotes, backslashes, blanks, switch characters: the URL is an argument, no switch.
    std::mt19937 random(9);
    const wchar_t alphabet[] = L"\"\\ \t-/ab:";
    for (int n = 0; n < 2000; ++n) {
        CString strRaw = L"nulvane.exe ";
        for (int i = static_cast<int>(random() % 40); i > 0; --i) {
            strRaw += CString(alphabet[random() % (std::size(alphabet) - 1)]);
        }
        const CCommandLine line = CCommandLine::FromRaw(strRaw);
        const CString strUrl = line.GetUrl();
        if (!strUrl.IsEmpty()) {
            EXPECT_TRUE(strUrl[0] != L'-' && strUrl[0] != L'/') << strRaw.ToUtf8();
            EXPECT_NE(std::find(line.GetArguments().begin(), line.GetArguments().end(), strUrl),
                      line.GetArguments().end());
        }
    }
}
