#include "framework/LanguageManager.h"

#include <cwchar>
#include <string>

#include "framework/File.h"
#include "framework/Logger.h"

namespace {

constexpr wchar_t kByteOrderMark = 0xFEFF;

// Templates are small XML files; anything larger is not one of ours.
constexpr ULONGLONG kMaxTemplateBytes = 16 * 1024 * 1024;

struct CTemplatePair {
    const wchar_t* pszTemplate;
    const wchar_t* pszOutput;
};

const CTemplatePair kTemplates[] = {
    {L"basis_non_symbian_template.xml", L"basis_non_symbian.xml"},
    {L"basis_not_connected_template.xml", L"basis_not_connected.xml"},
    {L"basis_not_running_template.xml", L"basis_not_running.xml"},
    {L"basis_symbian_template.xml", L"basis_symbian.xml"},
};

// Lines end at CR LF, a lone CR or a lone LF. The last line counts even
// without a line end, so a table saved without a final CR LF loses nothing.
std::vector<CString> SplitLines(const CString& strText)
{
    std::vector<CString> lines;
    const std::wstring& text = strText.Str();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(L"\r\n", start);
        if (end == std::wstring::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + ((text[end] == L'\r' && end + 1 < text.size() && text[end + 1] == L'\n') ? 2 : 1);
    }
    return lines;
}

// "0x0809" and the like; false for anything that is not one 16-bit hex
// number.
bool ParseLocaleCell(const CString& strCell, LANGID& langId)
{
    if (strCell.GetLength() < 3 || strCell.GetLength() > 6 || strCell[0] != L'0' ||
        (strCell[1] != L'x' && strCell[1] != L'X')) {
        return false;
    }
    unsigned value = 0;
    for (int i = 2; i < strCell.GetLength(); ++i) {
        const wchar_t ch = strCell[i];
        unsigned digit = 0;
        if (ch >= L'0' && ch <= L'9') {
            digit = ch - L'0';
        } else if (ch >= L'a' && ch <= L'f') {
            digit = ch - L'a' + 10;
        } else if (ch >= L'A' && ch <= L'F') {
            digit = ch - L'A' + 10;
        } else {
            return false;
        }
        value = value * 16 + digit;
    }
    langId = static_cast<LANGID>(value);
    return true;
}

std::string ReadWholeFile(const CString& strPath, bool& bRead)
{
    bRead = false;
    CFile file;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) {
        return std::string();
    }
    const ULONGLONG length = file.GetLength();
    if (length > kMaxTemplateBytes) {
        LOG_MESSAGE(L"CLanguageManager::GenerateLocalisedFiles() template too large %s", strPath.GetString());
        return std::string();
    }
    std::string content(static_cast<size_t>(length), '\0');
    const UINT nRead = content.empty() ? 0 : file.Read(content.data(), static_cast<UINT>(content.size()));
    content.resize(nRead);
    bRead = true;
    return content;
}

}  // namespace

std::vector<CString> CLanguageManager::SplitFields(const CString& strLine)
{
    std::vector<CString> fields;
    const std::wstring& line = strLine.Str();
    const size_t n = line.size();
    if (n == 0) {
        return fields;
    }
    size_t i = 0;
    bool bMore = true;
    while (bMore) {
        bMore = false;
        std::wstring field;
        if (i < n && line[i] == L'"') {
            // Quoted: "" is one quote; a quote before a comma or at the end
            // of the line closes the field; any other quote is kept.
            ++i;
            while (i < n) {
                if (line[i] != L'"') {
                    field += line[i++];
                } else if (i + 1 < n && line[i + 1] == L'"') {
                    field += L'"';
                    i += 2;
                } else if (i + 1 == n) {
                    i = n;
                    break;
                } else if (line[i + 1] == L',') {
                    i += 2;
                    bMore = true;
                    break;
                } else {
                    field += L'"';
                    ++i;
                }
            }
        } else {
            const size_t comma = line.find(L',', i);
            if (comma == std::wstring::npos) {
                field = line.substr(i);
                i = n;
            } else {
                field = line.substr(i, comma - i);
                i = comma + 1;
                bMore = true;
            }
        }
        fields.emplace_back(std::move(field));
    }
    return fields;
}

void CLanguageManager::Reload()
{
    CString text = LoadText();
    if (!text.IsEmpty() && text[0] == kByteOrderMark) {
        text = text.Mid(1);
    }
    m_keys.clear();
    m_columns.clear();

    const std::vector<CString> lines = SplitLines(text);
    int nRow = 0;
    for (size_t nLine = 0; nLine < lines.size(); ++nLine) {
        CString line = lines[nLine];
        line.Trim(L" \t\r\n");
        const std::vector<CString> fields = SplitFields(line);
        if (nLine == 0) {
            for (size_t i = 1; i < fields.size(); ++i) {
                m_columns.push_back({fields[i]});
            }
            continue;
        }
        if (fields.empty() || fields[0].IsEmpty()) {
            continue;
        }
        ++nRow;
        m_keys[fields[0]] = nRow;
        // A row shorter than the header gets empty cells, so that every kept
        // column stays indexed by row number.
        auto field = [&fields](size_t i) { return i < fields.size() ? fields[i] : CString(); };
        if (nRow == 1) {
            for (size_t i = 0; i < m_columns.size(); ++i) {
                m_columns[i].push_back(field(i + 1));
            }
            continue;
        }
        // Text rows are kept only in the first and the selected column.
        if (m_nSelected != 0 && static_cast<size_t>(m_nSelected) < m_columns.size()) {
            m_columns[m_nSelected].push_back(field(m_nSelected + 1));
        }
        if (!m_columns.empty()) {
            m_columns[0].push_back(field(1));
        }
    }
    // A text that lost the selected column falls back to the first.
    if (static_cast<size_t>(m_nSelected) >= m_columns.size()) {
        m_nSelected = 0;
    }
}

CString CLanguageManager::Cell(int nColumn, int nRow) const
{
    if (nColumn < 0 || static_cast<size_t>(nColumn) >= m_columns.size() || nRow < 0 ||
        static_cast<size_t>(nRow) >= m_columns[nColumn].size()) {
        return CString();
    }
    return m_columns[nColumn][nRow];
}

int CLanguageManager::GetCellCount(int nColumn) const
{
    if (nColumn < 0 || static_cast<size_t>(nColumn) >= m_columns.size()) {
        return 0;
    }
    return static_cast<int>(m_columns[nColumn].size());
}

CString CLanguageManager::GetString(const CString& strKey) const
{
    CString result = strKey;
    const auto it = m_keys.find(strKey);
    if (it != m_keys.end()) {
        result = Cell(m_nSelected, it->second);
        if (result.IsEmpty()) {
            result = Cell(0, it->second);
        }
    }
    // A text never carries a null character on to its caller.
    return CString(result.GetString());
}

void CLanguageManager::SelectColumn(int nColumn)
{
    if (nColumn >= 0) {
        m_nSelected = nColumn;
    }
    Reload();
    GenerateLocalisedFiles();
}

void CLanguageManager::SelectLanguage(const CString& strLocaleKey)
{
    int nFound = -1;
    for (size_t i = 0; i < m_columns.size() && nFound < 0; ++i) {
        if (Cell(static_cast<int>(i), 1) == strLocaleKey) {
            nFound = static_cast<int>(i);
        }
    }
    SelectColumn(nFound);
}

void CLanguageManager::SelectLanguageForId(LANGID langId)
{
    int nExact = -1;
    int nPrimary = -1;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        LANGID columnId = 0;
        if (!ParseLocaleCell(Cell(static_cast<int>(i), 1), columnId)) {
            continue;
        }
        if (columnId == langId && nExact < 0) {
            nExact = static_cast<int>(i);
        }
        if (PRIMARYLANGID(columnId) == PRIMARYLANGID(langId) && nPrimary < 0) {
            nPrimary = static_cast<int>(i);
        }
    }
    SelectColumn(nExact >= 0 ? nExact : nPrimary);
}

void CLanguageManager::GenerateLocalisedFiles() const
{
    for (const CTemplatePair& pair : kTemplates) {
        const CString templatePath = m_strTemplateFolder + pair.pszTemplate;
        const CString outputPath = m_strTemplateFolder + pair.pszOutput;
        try {
            bool bRead = false;
            const std::string text = ReadWholeFile(templatePath, bRead);
            if (!bRead) {
                continue;
            }
            // Each "$$KEY%%" becomes the key's text; replaced text is not
            // scanned again.
            std::string result;
            size_t pos = 0;
            while (true) {
                const size_t open = text.find("$$", pos);
                const size_t close = open == std::string::npos ? std::string::npos : text.find("%%", open + 2);
                if (close == std::string::npos) {
                    result.append(text, pos, std::string::npos);
                    break;
                }
                result.append(text, pos, open - pos);
                result += GetString(CString::FromAnsi(text.substr(open + 2, close - open - 2))).ToAnsi();
                pos = close + 2;
            }
            CFile output(outputPath, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
            if (!result.empty()) {
                output.Write(result.data(), static_cast<UINT>(result.size()));
            }
        } catch (const CException& e) {
            LOG_EXCEPTION(e, L"CLanguageManager::GenerateLocalisedFiles() failed for %s", outputPath.GetString());
        }
    }
}
