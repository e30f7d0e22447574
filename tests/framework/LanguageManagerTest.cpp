#include "framework/LanguageManagerResource.h"

#include <gtest/gtest.h>

#include "tests/support/Printers.h"

namespace {

// A table whose text the test writes.
class CTextTable : public CLanguageManager {
public:
    explicit CTextTable(const CString& strText) : m_strText(strText) { Reload(); }

protected:
    CString LoadText() override { return m_strText; }

private:
    CString m_strText;
};

}  // namespace

TEST(LanguageTable, ShipsBothEnglishColumnsAndChoosesTheUsersOne)
{
    CLanguageManagerResource table;  // the shipped one
    table.Reload();
    ASSERT_EQ(table.GetColumnCount(), 2);
    EXPECT_EQ(table.GetString(L"MAXIMIZE"), L"Maximise");
    // Unknown keys, and keys that differ only in case, come back as given.
    EXPECT_EQ(table.GetString(L"maximize"), L"maximize");
    table.SelectLanguageForId(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_EQ(table.GetString(L"MAXIMIZE"), L"Maximize");
    // A language it lacks keeps the selection; other English takes the first.
    table.SelectLanguageForId(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    EXPECT_EQ(table.GetSelectedColumn(), 1);
    table.SelectLanguageForId(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_AUS));
    EXPECT_EQ(table.GetSelectedColumn(), 0);

    // A module without the table answers every key with itself.
    CLanguageManagerResource none(GetModuleHandleW(L"kernel32.dll"));
    none.Reload();
    EXPECT_EQ(none.GetString(L"HISTORY"), L"HISTORY");
}

TEST(LanguageTable, OddTablesAnswerFromTheSelectedOrFirstColumnOrTheKey)
{
    const CString table = CString(L"\xFEFF") + L"String ID,First,Second,Third\r\n\t locale,0x0809,0x0409,0x0407 \r\n" +
                          L",,,\r\nA, spaced ,a2,a3\rB,b,\"quoted \"\"b\"\"\"\nC,c,\t\r\n\r\n   \r\nEMPTY,first,,x\r\n"
                          L"SHORT,only first\nKEYONLY\nK,old,old2\nK,new,new2\nQ1,\"a\"b\",x\n"
                          L"Q2,k,a\"b\"\nQ3,\"open, never closed\nLAST,last,final";
    const struct {
        const wchar_t* pszLocale;
        const wchar_t* pszKey;
        const wchar_t* pszExpected;
    } cases[] = {
        // Blanks around a line go, not in fields; CR LF, CR or LF end a line, the last needs none.
        {L"0x0809", L"A", L" spaced "},
        {L"0x0407", L"A", L"a3"},
        {L"0x0409", L"B", L"quoted \"b\""},
        // A stray quote stays; only a field's first opens one; an unclosed one runs on.
        {L"0x0809", L"Q1", L"a\"b"},
        {L"0x0409", L"Q2", L"a\"b\""},
        {L"0x0809", L"Q3", L"open, never closed"},
        {L"0x0409", L"LAST", L"final"},
        // An empty or missing cell: the first column; none there: empty.
        {L"0x0409", L"C", L"c"},
        {L"0x0409", L"EMPTY", L"first"},
        {L"0x0409", L"SHORT", L"only first"},
        {L"0x0409", L"KEYONLY", L""},
        // A key that occurs again moves to its later row; "locale" is a key.
        {L"0x0409", L"K", L"new2"},
        {L"0x0407", L"locale", L"0x0407"},
        {L"0x0409", L"NO_SUCH", L"NO_SUCH"},
    };
    for (const auto& c : cases) {
        CTextTable language(table);
        language.SelectLanguage(c.pszLocale);
        EXPECT_EQ(language.GetString(c.pszKey), c.pszExpected) << CString(c.pszKey).ToUtf8();
    }
    // A short locale row leaves the missing locales empty.
    CTextTable shortLocales(L"String ID,UK,US,DE\r\nlocale,0x0809\r\nA,a1,a2,a3");
    shortLocales.SelectLanguage(L"");
    EXPECT_EQ(shortLocales.GetString(L"A"), L"a2");
    CTextTable headerOnly(L"String ID\r\nlocale\r\nK,text\r\n");
    EXPECT_EQ(headerOnly.GetColumnCount(), 0);
    EXPECT_EQ(headerOnly.GetString(L"K"), L"");
}
