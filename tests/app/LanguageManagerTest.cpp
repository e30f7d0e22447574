#include "app/LanguageManagerResource.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

// A table whose text the test writes.
class CTextTable : public CLanguageManager {
public:
    explicit CTextTable(CString strText = CString()) : m_strText(std::move(strText)) { Reload(); }
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

// Rows joined with CR LF, the last one ended too.
CString Table(std::initializer_list<const wchar_t*> rows)
{
    CString text;
    for (const wchar_t* row : rows) {
        text += row;
        text += L"\r\n";
    }
    return text;
}

const wchar_t* const kHeader = L"String ID,First,Second,Third";
const wchar_t* const kLocales = L"locale,0x0809,0x0409,0x0407";

// The shipped table, read straight from the resource.
class CShippedTable : public CLanguageManagerResource {
public:
    CShippedTable() { Reload(); }
};

std::vector<CString> Fields(const wchar_t* pszLine)
{
    return CLanguageManager::SplitFields(pszLine);
}

}  // namespace

TEST(LanguageFields, QuotedFieldsFollowTheDoubledQuoteRules)
{
    EXPECT_EQ(Fields(L"a,b,c"), (std::vector<CString>{L"a", L"b", L"c"}));
    EXPECT_EQ(Fields(L"\"Say \"\"hi\"\"\",x"), (std::vector<CString>{L"Say \"hi\"", L"x"}));
    // A quote that neither doubles nor closes is kept.
    EXPECT_EQ(Fields(L"\"a\"b\",c"), (std::vector<CString>{L"a\"b", L"c"}));
    // A quote as the line's last character closes the field.
    EXPECT_EQ(Fields(L"k,\"one, two\""), (std::vector<CString>{L"k", L"one, two"}));
    // An unclosed quoted field runs to the end of the line.
    EXPECT_EQ(Fields(L"k,\"open, never closed"), (std::vector<CString>{L"k", L"open, never closed"}));
    // Only a field's first character can open a quote.
    EXPECT_EQ(Fields(L"k,a\"b\",c"), (std::vector<CString>{L"k", L"a\"b\"", L"c"}));
    // Fields are not trimmed; a trailing comma leaves an empty field.
    EXPECT_EQ(Fields(L" a , b,"), (std::vector<CString>{L" a ", L" b", L""}));
    EXPECT_EQ(Fields(L",,"), (std::vector<CString>{L"", L"", L""}));
    EXPECT_EQ(Fields(L"\"\""), (std::vector<CString>{L""}));
    EXPECT_TRUE(Fields(L"").empty());
}

TEST(LanguageTable, ShipsBothEnglishColumnsWithEveryKey)
{
    CShippedTable table;
    ASSERT_EQ(table.GetColumnCount(), 2);
    EXPECT_EQ(table.GetColumnName(0), L"English (UK)");
    EXPECT_EQ(table.GetColumnName(1), L"English (US)");
    EXPECT_EQ(table.GetSelectedColumn(), 0);

    EXPECT_EQ(table.GetString(L"MAXIMIZE"), L"Maximise");
    // Quoted in the table because of its comma.
    EXPECT_EQ(table.GetString(L"IDS_CRASH_MESSAGE"),
              L"Nulvane has noticed a problem.  As a precaution, a full clean-up will now take place");
    // The backslash stays: message boxes break the line there.
    EXPECT_EQ(table.GetString(L"IDS_DOWNLOADWARNING_TEXT"),
              L"You are about to download a file to your computer. Like other private browsers, \\Nulvane does "
              L"not wipe out downloaded files. Are you sure you want to continue?");

    // Unknown keys, and keys that differ only in case, come back as given.
    EXPECT_EQ(table.GetString(L"ABORT_CLEANUP"), L"ABORT_CLEANUP");
    EXPECT_EQ(table.GetString(L"maximize"), L"maximize");
    EXPECT_EQ(table.GetString(L"String ID"), L"String ID");
    EXPECT_EQ(table.GetString(L""), L"");

    // Header, locale row and 48 text rows: the two spacer rows take no row.
    EXPECT_EQ(table.GetCellCount(0), 50);
    // The second column keeps its name and locale only.
    EXPECT_EQ(table.GetCellCount(1), 2);

    table.SelectLanguage(L"0x0409");
    EXPECT_EQ(table.GetSelectedColumn(), 1);
    EXPECT_EQ(table.GetString(L"MAXIMIZE"), L"Maximize");
    EXPECT_EQ(table.GetCellCount(1), 50);
}

TEST(LanguageTable, ChoosesTheColumnForTheUsersLanguage)
{
    CShippedTable table;
    table.SelectLanguageForId(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_EQ(table.GetString(L"MAXIMIZE"), L"Maximize");
    table.SelectLanguageForId(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK));
    EXPECT_EQ(table.GetString(L"MAXIMIZE"), L"Maximise");
    // Other English: the first English column.
    table.SelectLanguageForId(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_AUS));
    EXPECT_EQ(table.GetSelectedColumn(), 0);
    // A language the table lacks keeps the selection: the first column
    // for a fresh table.
    CShippedTable fresh;
    fresh.SelectLanguageForId(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    EXPECT_EQ(fresh.GetSelectedColumn(), 0);
    fresh.SelectLanguage(L"0x0409");
    fresh.SelectLanguageForId(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    EXPECT_EQ(fresh.GetSelectedColumn(), 1);
    // The two-digit key some callers build matches no four-digit cell.
    CShippedTable twoDigits;
    twoDigits.SelectLanguage(L"0x09");
    EXPECT_EQ(twoDigits.GetSelectedColumn(), 0);
}

TEST(LanguageTable, TheSingletonAnswersInTheUsersLanguageAndComesBackAfterRelease)
{
    const bool bUs = GetUserDefaultLangID() == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    CLanguageManagerResource* pTable = CLanguageManagerResource::Instance();
    ASSERT_NE(pTable, nullptr);
    EXPECT_EQ(CLanguageManagerResource::Instance(), pTable);
    EXPECT_EQ(pTable->GetString(L"MAXIMIZE"), bUs ? L"Maximize" : L"Maximise");
    CLanguageManagerResource::Release();
    EXPECT_EQ(CLanguageManagerResource::Instance()->GetString(L"HISTORY"), L"History");
    CLanguageManagerResource::Release();
    CLanguageManagerResource::Release();
}

TEST(LanguageTable, AModuleWithoutTheTableAnswersEveryKeyWithItself)
{
    CLogCapture capture;
    CLanguageManagerResource table(GetModuleHandleW(L"kernel32.dll"));
    table.Reload();
    EXPECT_EQ(table.GetColumnCount(), 0);
    EXPECT_EQ(table.GetString(L"HISTORY"), L"HISTORY");
    EXPECT_EQ(capture.MessagesContaining(L"no LANGUAGES resource").size(), 1u);
}

TEST(LanguageTable, KeepsTextRowsOnlyInTheFirstAndSelectedColumns)
{
    // Spacer rows take no row numbers.
    CTextTable table(Table({kHeader, kLocales, L",,,", L"A,a1,a2,a3", L",,,", L"B,b1,b2,b3"}));
    table.SelectLanguage(L"0x0407");
    EXPECT_EQ(table.GetSelectedColumn(), 2);
    EXPECT_EQ(table.GetString(L"A"), L"a3");
    EXPECT_EQ(table.GetString(L"B"), L"b3");
    EXPECT_EQ(table.GetCellCount(0), 4);
    EXPECT_EQ(table.GetCellCount(1), 2);
    EXPECT_EQ(table.GetCellCount(2), 4);
    EXPECT_EQ(table.GetColumnLocale(1), L"0x0409");
    // "locale" is a key like any other.
    EXPECT_EQ(table.GetString(L"locale"), L"0x0407");
}

TEST(LanguageTable, FallsBackToTheFirstColumnForAnEmptyOrMissingCell)
{
    CTextTable table(Table({kHeader, kLocales, L"EMPTY,first,,x", L"SHORT,only first", L"KEYONLY",
                            L"NONE,,,", L"AFTER,f,s,t"}));
    table.SelectLanguage(L"0x0409");
    EXPECT_EQ(table.GetString(L"EMPTY"), L"first");
    // A short row is not read past its end, and later rows stay in place.
    EXPECT_EQ(table.GetString(L"SHORT"), L"only first");
    EXPECT_EQ(table.GetString(L"KEYONLY"), L"");
    EXPECT_EQ(table.GetString(L"NONE"), L"");
    EXPECT_EQ(table.GetString(L"AFTER"), L"s");
    // A short locale row leaves the missing locales empty.
    CTextTable shortLocales(Table({kHeader, L"locale,0x0809", L"A,a1,a2,a3"}));
    EXPECT_EQ(shortLocales.GetColumnLocale(2), L"");
    shortLocales.SelectLanguage(L"");
    EXPECT_EQ(shortLocales.GetSelectedColumn(), 1);
    EXPECT_EQ(shortLocales.GetString(L"A"), L"a2");
}

TEST(LanguageTable, TrimsLinesAndAcceptsAnyLineEnd)
{
    // Blanks and tabs around a line go; those inside fields stay. CR LF, a
    // lone CR and a lone LF all end a line; the last line needs no end.
    const CString text = CString(L"\xFEFF") + L"String ID,First,Second\r\n\t locale,0x0809,0x0409 \r\n" +
                         L"A, spaced ,x\rB,b,\"quoted \"\"b\"\"\"\nC,c,\t\r\n\r\n   \r\nLAST,last,final";
    CTextTable table(text);
    EXPECT_EQ(table.GetColumnLocale(1), L"0x0409");
    EXPECT_EQ(table.GetString(L"A"), L" spaced ");
    EXPECT_EQ(table.GetString(L"B"), L"b");
    EXPECT_EQ(table.GetString(L"C"), L"c");
    EXPECT_EQ(table.GetString(L"LAST"), L"last");
    table.SelectLanguage(L"0x0409");
    EXPECT_EQ(table.GetString(L"B"), L"quoted \"b\"");
    // The trailing tab of C's line was trimmed away with the line end: an
    // empty cell, so the first column answers.
    EXPECT_EQ(table.GetString(L"C"), L"c");
    EXPECT_EQ(table.GetString(L"LAST"), L"final");
}

TEST(LanguageTable, OddTextsStillAnswer)
{
    // A key that occurs again moves to its later row.
    CTextTable twice(Table({kHeader, kLocales, L"K,old,old2,old3", L"K,new,new2,new3"}));
    EXPECT_EQ(twice.GetString(L"K"), L"new");

    // A text ends at a null character.
    CString text = Table({kHeader, kLocales, L"K,beforeXafter"});
    text.SetAt(text.Find(L'X'), L'\0');
    EXPECT_EQ(CTextTable(text).GetString(L"K"), L"before");

    // No text, or no language column: keys answer for themselves; a known
    // key with no cell anywhere is empty.
    CTextTable empty(L"");
    EXPECT_EQ(empty.GetColumnCount(), 0);
    EXPECT_EQ(empty.GetString(L"K"), L"K");
    CTextTable headerOnly(L"String ID\r\nlocale\r\nK,text\r\n");
    EXPECT_EQ(headerOnly.GetColumnCount(), 0);
    EXPECT_EQ(headerOnly.GetString(L"K"), L"");
    EXPECT_EQ(headerOnly.GetString(L"X"), L"X");
}

TEST(LanguageTable, SurvivesTenThousandMutatedTables)
{
    CShippedTable shipped;
    // The shipped table's text, through a table that hands it over.
    class CReader : public CLanguageManagerResource {
    public:
        CString Text() { return LoadText(); }
    } reader;
    const CString original = reader.Text();
    ASSERT_GT(original.GetLength(), 1000);

    const wchar_t alphabet[] = L"\",\r\n \t\\x0$%\xFEFF\x00E9";
    std::mt19937 random(20261206);
    CTextTable table;
    for (int i = 0; i < 10000; ++i) {
        std::wstring text = original.Str();
        const int nChanges = 1 + static_cast<int>(random() % 12);
        for (int c = 0; c < nChanges && !text.empty(); ++c) {
            const size_t at = random() % text.size();
            switch (random() % 5) {
            case 0:
                text[at] = alphabet[random() % (sizeof(alphabet) / sizeof(alphabet[0]))];
                break;
            case 1:
                text.insert(at, 1, alphabet[random() % (sizeof(alphabet) / sizeof(alphabet[0]))]);
                break;
            case 2:
                text.erase(at, 1 + random() % 40);
                break;
            case 3:
                text.resize(at);
                break;
            default:
                text[at] = static_cast<wchar_t>(random() & 0xFFFF);
                break;
            }
        }
        table.SetText(CString(text));
        table.SelectLanguage(i % 2 == 0 ? L"0x0409" : L"0x0809");
        ASSERT_LT(table.GetSelectedColumn(), std::max(table.GetColumnCount(), 1));
        EXPECT_EQ(table.GetString(L"NO_SUCH_KEY_ANYWHERE"), L"NO_SUCH_KEY_ANYWHERE");
        for (const wchar_t* key : {L"MAXIMIZE", L"HISTORY", L"IDS_CRASH_MESSAGE", L"locale", L""}) {
            const CString value = table.GetString(key);
            ASSERT_EQ(value.Find(L'\0'), -1);
        }
        for (int column = 0; column < table.GetColumnCount(); ++column) {
            ASSERT_LE(table.GetCellCount(column), text.size() + 2);
        }
    }
}

TEST(LanguageTemplates, FillTheTemplatesThatExistAndSkipTheOthers)
{
    CTempFolder folder;
    WriteTestFile(folder / L"basis_symbian_template.xml",
                  "<a>$$CLOSE%%</a><b>$$NOT_A_KEY%%</b><c>$$MAXIMIZE%%$$CLOSE%%</c> 100%% $$open");
    WriteTestFile(folder / L"basis_not_running_template.xml", "");
    // Replaced texts are not scanned again, even when they look like markers.
    WriteTestFile(folder / L"basis_non_symbian_template.xml", "[$$TRICK%%]");
    CTextTable table(Table({L"String ID,UK,US", L"locale,0x0809,0x0409", L"CLOSE,Close,Close",
                            L"MAXIMIZE,Maximise,Maximize", L"TRICK,$$CLOSE%%,$$CLOSE%%"}));
    table.SetTemplateFolder(folder.Path() + L"\\");
    table.SelectLanguage(L"0x0409");

    EXPECT_EQ(ReadTestFile(folder / L"basis_symbian.xml"),
              "<a>Close</a><b>NOT_A_KEY</b><c>MaximizeClose</c> 100%% $$open");
    EXPECT_EQ(ReadTestFile(folder / L"basis_not_running.xml"), "");
    EXPECT_EQ(ReadTestFile(folder / L"basis_non_symbian.xml"), "[$$CLOSE%%]");
    EXPECT_FALSE(TestFileExists(folder / L"basis_not_connected.xml"));

    // A later selection writes the files again over the old ones.
    table.SelectLanguage(L"0x0809");
    EXPECT_EQ(ReadTestFile(folder / L"basis_symbian.xml"),
              "<a>Close</a><b>NOT_A_KEY</b><c>MaximiseClose</c> 100%% $$open");
}

TEST(LanguageTemplates, AnOutputThatCannotBeWrittenIsLoggedAndSkipped)
{
    CTempFolder folder;
    WriteTestFile(folder / L"basis_symbian_template.xml", "$$K%%");
    WriteTestFile(folder / L"basis_not_running_template.xml", "$$K%%");
    // A folder where one output should go.
    CreateTestFolders(folder / L"basis_symbian.xml");
    CTextTable table(Table({L"String ID,UK", L"locale,0x0809", L"K,text"}));
    table.SetTemplateFolder(folder.Path() + L"\\");
    CLogCapture capture;
    table.GenerateLocalisedFiles();
    EXPECT_EQ(capture.MessagesContaining(L"basis_symbian.xml").size(), 1u);
    EXPECT_EQ(ReadTestFile(folder / L"basis_not_running.xml"), "text");
}
