#pragma once

#include <windows.h>

#include <map>
#include <vector>

#include "framework/String.h"

// The language string table: comma-separated rows of a key and its text in
// each language column. One column is selected; lookups answer from it,
// fall back to the first column for an empty cell, and to the key itself
// for an unknown key. Subclasses supply the table's text.
class CLanguageManager {
public:
    CLanguageManager() = default;
    virtual ~CLanguageManager() = default;
    CLanguageManager(const CLanguageManager&) = delete;
    CLanguageManager& operator=(const CLanguageManager&) = delete;

    // The text for a key (see above).
    CString GetString(const CString& strKey) const;

    // Selects the column whose locale cell equals the key exactly (the
    // selection stays when none does), parses again and regenerates the
    // localised files.
    void SelectLanguage(const CString& strLocaleKey);
    // Selects the column for a platform language id: the column whose
    // locale cell names that very id, else the first column of the same
    // primary language, else the selection stays. Then as SelectLanguage.
    void SelectLanguageForId(LANGID langId);

    // Parses the text again for the selected column.
    void Reload();

    // Fills the localised XML templates found in the template folder.
    void GenerateLocalisedFiles() const;

    // A prefix put before the template names: a folder with its trailing
    // backslash, or empty for the current directory.
    void SetTemplateFolder(const CString& strFolder) { m_strTemplateFolder = strFolder; }
    const CString& GetTemplateFolder() const { return m_strTemplateFolder; }

    int GetSelectedColumn() const { return m_nSelected; }
    int GetColumnCount() const { return static_cast<int>(m_columns.size()); }
    // A column's display name (cell 0) and locale identifier (cell 1).
    CString GetColumnName(int nColumn) const { return Cell(nColumn, 0); }
    CString GetColumnLocale(int nColumn) const { return Cell(nColumn, 1); }
    // How many cells a column holds: text rows are kept only for the first
    // and the selected column.
    int GetCellCount(int nColumn) const;

    // Splits one line into fields (quoted fields, doubled quotes).
    static std::vector<CString> SplitFields(const CString& strLine);

protected:
    // The whole table, as it is stored (a leading byte-order mark allowed).
    virtual CString LoadText() = 0;

private:
    CString Cell(int nColumn, int nRow) const;
    void SelectColumn(int nColumn);

    std::map<CString, int> m_keys;
    std::vector<std::vector<CString>> m_columns;
    int m_nSelected = 0;
    CString m_strTemplateFolder;
};
