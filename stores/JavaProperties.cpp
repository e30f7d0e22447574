#include "stores/JavaProperties.h"

namespace {

bool IsBlank(wchar_t ch)
{
    return ch == L' ' || ch == L'\t' || ch == L'\f';
}

// ISO-8859-1: each byte is the character of the same number.
std::wstring FromLatin1(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    }
    return wide;
}

// The natural lines, split at CR, LF or CR LF.
std::vector<std::wstring> SplitLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

size_t SkipBlanks(const std::wstring& s, size_t i)
{
    while (i < s.size() && IsBlank(s[i])) {
        ++i;
    }
    return i;
}

// Whether the line ends in an odd number of backslashes, which escape the
// line end.
bool EndsInContinuation(const std::wstring& s)
{
    size_t n = 0;
    for (size_t i = s.size(); i > 0 && s[i - 1] == L'\\'; --i) {
        ++n;
    }
    return n % 2 == 1;
}

int HexValue(wchar_t ch)
{
    if (ch >= L'0' && ch <= L'9') {
        return ch - L'0';
    }
    if (ch >= L'a' && ch <= L'f') {
        return ch - L'a' + 10;
    }
    if (ch >= L'A' && ch <= L'F') {
        return ch - L'A' + 10;
    }
    return -1;
}

}  // namespace

CString CJavaProperties::Unescape(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const wchar_t ch = text[++i];
        switch (ch) {
        case L't':
            out += L'\t';
            break;
        case L'n':
            out += L'\n';
            break;
        case L'r':
            out += L'\r';
            break;
        case L'f':
            out += L'\f';
            break;
        case L'u': {
            int value = 0;
            size_t digits = 0;
            while (digits < 4 && i + 1 + digits < text.size() && HexValue(text[i + 1 + digits]) >= 0) {
                value = value * 16 + HexValue(text[i + 1 + digits]);
                ++digits;
            }
            if (digits == 4) {
                out += static_cast<wchar_t>(value);
                i += 4;
            } else {
                // Malformed: kept as written rather than guessed at.
                out += L"\\u";
            }
            break;
        }
        default:
            out += ch;  // "\:", "\=", "\\", "\ " and the like stand for the character
        }
    }
    return CString(std::move(out));
}

std::vector<CJavaProperties::CEntry> CJavaProperties::Parse(const std::string& text)
{
    std::vector<CEntry> entries;
    const std::vector<std::wstring> lines = SplitLines(FromLatin1(text));
    for (size_t n = 0; n < lines.size(); ++n) {
        std::wstring line = lines[n].substr(SkipBlanks(lines[n], 0));
        if (line.empty() || line[0] == L'#' || line[0] == L'!') {
            continue;
        }
        while (EndsInContinuation(line)) {
            line.pop_back();
            if (++n >= lines.size()) {
                break;
            }
            line += lines[n].substr(SkipBlanks(lines[n], 0));
        }

        size_t keyEnd = 0;
        bool bEscaped = false;
        while (keyEnd < line.size()) {
            const wchar_t ch = line[keyEnd];
            if (!bEscaped && (ch == L'=' || ch == L':' || IsBlank(ch))) {
                break;
            }
            bEscaped = ch == L'\\' && !bEscaped;
            ++keyEnd;
        }
        size_t valueStart = SkipBlanks(line, keyEnd);
        if (valueStart < line.size() && (line[valueStart] == L'=' || line[valueStart] == L':')) {
            valueStart = SkipBlanks(line, valueStart + 1);
        }
        entries.push_back({Unescape(line.substr(0, keyEnd)), Unescape(line.substr(valueStart))});
    }
    return entries;
}
