#include "app/LanguageManagerResource.h"

#include <gtest/gtest.h>

#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

// A table whose text the test writes.
class CTextTable : public CLanguageManager {
public:
    explicit CTextTable(CString strText = CString()) { SetText(strText); }
    void SetText(const CString& strText)
    {
        m_strText = strText;
        Reload();
    }

protected:
    CString LoadText() override { return m_strText; }

private:
    CString m_strText;
};

// The shipped table, read straight from the resource.
class CShippedTable : public CLanguageManagerResource {
public:
    CShippedTable() { Reload(); }
};

}  // namespace

TEST(LanguageTable, QuotedFieldsFollowTheDoubledQuoteRules)
{
    const struct {
        const wchar_t* pszLine;
        std::vector<CString> fields;
    } cases[] = {
        {L"\"Say \"\"hi\"\"\",x", {L"Say \"hi\"", L"x"}},
        // A quote that neither doubles nor closes is kept; only a field's
        // first character opens one; an unclosed one runs to the line's end.
        {L"\"a\"b\",c", {L"a\"b", L"c"}},
        {L"k,a\"b\",c", {L"k", L"a\"b\"", L"c"}},
        {L"k,\"open, never closed", {L"k", L"open, never closed"}},
        // Fields are not trimmed; a trailing comma leaves an empty field.
        {L" a , b,", {L" a ", L" b", L""}},
        {L"\"\"", {L""}},
        {L"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CLanguageManager::SplitFields(c.pszLine), c.fields) << CString(c.pszLine).ToUtf8();
    }
}

TEST(LanguageTable, ShipsBothEnglishColumnsAndChoosesTheUsersOne)
{
    CShippedTable table;
    ASSERT_EQ(table.GetColumnCount(), 2);
    EXPECT_EQ(table.GetColumnName(1), L"English (US)");
    EXPECT_EQ(table.GetString(L"MAXIMIZE"), L"Maximise");
    // Unknown keys, and keys that differ only in case, come back as given.
    EXPECT_EQ(table.GetString(L"maximize"), L"maximize");
    // Header, locale row and 48 text rows; the unselected column keeps its
    // name and locale only.
    EXPECT_EQ(table.GetCellCount(0), 50);
    EXPECT_EQ(table.GetCellCount(1), 2);
    table.SelectLanguageForId(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_EQ(table.GetString(L"MAXIMIZE"), L"Maximize");
    EXPECT_EQ(table.GetCellCount(1), 50);
    // A language the table lacks keeps the selection; other English takes
    // the first English column.
    table.SelectLanguageForId(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    EXPECT_EQ(table.GetSelectedColumn(), 1);
    table.SelectLanguageForId(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_AUS));
    EXPECT_EQ(table.GetSelectedColumn(), 0);

    CLanguageManagerResource* pTable = CLanguageManagerResource::Instance();
    EXPECT_EQ(CLanguageManagerResource::Instance(), pTable);
    CLanguageManagerResource::Release();
    EXPECT_EQ(CLanguageManagerResource::Instance()->GetString(L"HISTORY"), L"History");
    CLanguageManagerResource::Release();
    // A module without the table answers every key with itself.
    CLanguageManagerResource none(GetModuleHandleW(L"kernel32.dll"));
    none.Reload();
    EXPECT_EQ(none.GetString(L"HISTORY"), L"HISTORY");
}

TEST(LanguageTable, OddTablesAnswerFromTheSelectedOrFirstColumnOrTheKey)
{
    const CString table = CString(L"\xFEFF") + L"String ID,First,Second,Third\r\n\t locale,0x0809,0x0409,0x0407 \r\n" +
                          L",,,\r\nA, spaced ,a2,a3\rB,b,\"quoted \"\"b\"\"\"\nC,c,\t\r\n\r\n   \r\nEMPTY,first,,x\r\n"
                          L"SHORT,only first\nKEYONLY\nK,old,old2\nK,new,new2\nZ,beforeXafter\nLAST,last,final";
    CString withNull = table;
    withNull.SetAt(withNull.Find(L'X'), L'\0');
    const struct {
        const CString& strText;
        const wchar_t* pszLocale;
        const wchar_t* pszKey;
        const wchar_t* pszExpected;
    } cases[] = {
        // Blanks and tabs around a line go, those inside fields stay; CR LF,
        // a lone CR or LF end a line; the last one needs no end.
        {table, L"0x0809", L"A", L" spaced "},
        {table, L"0x0407", L"A", L"a3"},
        {table, L"0x0409", L"B", L"quoted \"b\""},
        {table, L"0x0409", L"LAST", L"final"},
        // An empty or missing cell: the first column; none there: empty.
        {table, L"0x0409", L"C", L"c"},
        {table, L"0x0409", L"EMPTY", L"first"},
        {table, L"0x0409", L"SHORT", L"only first"},
        {table, L"0x0409", L"KEYONLY", L""},
        // A key that occurs again moves to its later row; "locale" is a key.
        {table, L"0x0409", L"K", L"new2"},
        {table, L"0x0407", L"locale", L"0x0407"},
        {table, L"0x0409", L"NO_SUCH", L"NO_SUCH"},
        // A cell ends at a null character.
        {withNull, L"0x0809", L"Z", L"before"},
    };
    for (const auto& c : cases) {
        CTextTable language(c.strText);
        language.SelectLanguage(c.pszLocale);
        EXPECT_EQ(language.GetString(c.pszKey), c.pszExpected) << CString(c.pszKey).ToUtf8();
    }
    // Only the first and the selected columns keep their text rows.
    CTextTable language(table);
    language.SelectLanguage(L"0x0407");
    EXPECT_EQ(language.GetCellCount(1), 2);
    EXPECT_EQ(language.GetCellCount(2), language.GetCellCount(0));
    // A short locale row leaves the missing locales empty.
    CTextTable shortLocales(L"String ID,UK,US,DE\r\nlocale,0x0809\r\nA,a1,a2,a3");
    shortLocales.SelectLanguage(L"");
    EXPECT_EQ(shortLocales.GetString(L"A"), L"a2");
    CTextTable headerOnly(L"String ID\r\nlocale\r\nK,text\r\n");
    EXPECT_EQ(headerOnly.GetColumnCount(), 0);
    EXPECT_EQ(headerOnly.GetString(L"K"), L"");
}

TEST(LanguageTable, FillsTheTemplatesThatExistAndSkipsAnOutputThatCannotBeWritten)
{
    CTempFolder folder;
    WriteTestFile(folder / L"basis_symbian_template.xml",
                  "<a>$$CLOSE%%</a><b>$$NOT_A_KEY%%</b><c>$$MAXIMIZE%%$$CLOSE%%</c> 100%% $$open");
    // Replaced texts are not scanned again, even when they look like markers.
    WriteTestFile(folder / L"basis_non_symbian_template.xml", "[$$TRICK%%]");
    WriteTestFile(folder / L"basis_not_running_template.xml", "$$CLOSE%%");
    // A folder where one output should go.
    CreateTestFolders(folder / L"basis_not_running.xml");
    CTextTable table(L"String ID,UK,US\r\nlocale,0x0809,0x0409\r\nCLOSE,Close,Close\r\nMAXIMIZE,Maximise,Maximize\r\n"
                     L"TRICK,$$CLOSE%%,$$CLOSE%%\r\n");
    table.SetTemplateFolder(folder.Path() + L"\\");
    table.SelectLanguage(L"0x0409");
    EXPECT_EQ(ReadTestFile(folder / L"basis_symbian.xml"),
              "<a>Close</a><b>NOT_A_KEY</b><c>MaximizeClose</c> 100%% $$open");
    EXPECT_EQ(ReadTestFile(folder / L"basis_non_symbian.xml"), "[$$CLOSE%%]");
    EXPECT_FALSE(TestFileExists(folder / L"basis_not_connected.xml"));
    // A later selection writes the files again over the old ones.
    table.SelectLanguage(L"0x0809");
    EXPECT_EQ(ReadTestFile(folder / L"basis_symbian.xml"),
              "<a>Close</a><b>NOT_A_KEY</b><c>MaximiseClose</c> 100%% $$open");
}
