#include "app/RecoveryFile.h"

#include <string>
#include <vector>

#include "framework/Logger.h"
#include "framework/StdioFile.h"

namespace {

const char kFlashHeader[] = "[Flash Cookies]";
const char kJavaHeader[] = "[Java Cache]";
const char kHistoryHeader[] = "[History]";
const char kCookiesHeader[] = "[Cookies]";

constexpr int kCookieLines = 4;
// A snapshot of a large profile is a few megabytes; anything far beyond is
// not one of ours.
constexpr ULONGLONG kMaxFileBytes = 256ULL * 1024 * 1024;

// Lines as the platform's text streams give them: up to LF, without it and
// without a CR just before it; a last line without LF counts too.
class CLineReader {
public:
    explicit CLineReader(const std::string& content) : m_content(content) {}

    bool Next(std::string& line)
    {
        if (m_pos >= m_content.size()) {
            line.clear();
            return false;
        }
        size_t end = m_content.find('\n', m_pos);
        const size_t next = end == std::string::npos ? m_content.size() : end + 1;
        if (end == std::string::npos) {
            end = m_content.size();
        }
        line.assign(m_content, m_pos, end - m_pos);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        m_pos = next;
        return true;
    }

private:
    const std::string& m_content;
    size_t m_pos = 0;
};

struct CSectionSpec {
    const char* pszHeader;
    const char* pszNextHeader;
    CStringSet CRecoverySnapshot::*pSet;
};

const CSectionSpec kSetSections[] = {
    {kFlashHeader, kJavaHeader, &CRecoverySnapshot::flash},
    {kJavaHeader, kHistoryHeader, &CRecoverySnapshot::java},
    {kHistoryHeader, kCookiesHeader, &CRecoverySnapshot::history},
};

bool IsHeader(const std::string& line)
{
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

// The N of "[Session Start N]": 1 to 20 decimal digits that fit 64 bits.
// Anything else reads as no start at all.
CFileTime ParseSessionStart(const std::string& line)
{
    const std::string prefix = CRecoveryFile::kSessionStartPrefix;
    if (line.size() <= prefix.size() + 1 || line.compare(0, prefix.size(), prefix) != 0 || line.back() != ']') {
        return CFileTime();
    }
    const std::string digits = line.substr(prefix.size(), line.size() - prefix.size() - 1);
    if (digits.size() > 20) {
        return CFileTime();
    }
    ULONGLONG value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return CFileTime();
        }
        const ULONGLONG digit = static_cast<ULONGLONG>(c - '0');
        if (value > (~0ULL - digit) / 10) {
            return CFileTime();
        }
        value = value * 10 + digit;
    }
    return CFileTime(value);
}

std::string Encode(const CString& entry)
{
    return entry.ToUtf8();
}

CString Decode(const std::string& line, bool bUtf8)
{
    return bUtf8 ? CString::FromUtf8(line) : CString::FromAnsi(line);
}

void WriteSet(CStdioFile& file, const char* pszHeader, const CStringSet& set)
{
    file.WriteLine(pszHeader);
    for (const CString& entry : set) {
        // A cookie record's own line breaks become CR LF, so the record
        // takes its four lines.
        file.WriteLine(Encode(entry));
    }
}

}  // namespace

BOOL CRecoveryFile::Write(const CString& strPath, const CRecoverySnapshot& snapshot)
{
    const CString tempPath = TempPathOf(strPath);
    DeleteFileW(tempPath);
    try {
        {
            CStdioFile file;
            CFileException error;
            if (!file.Open(tempPath, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive, &error)) {
                LOG_ERROR(static_cast<DWORD>(error.m_lOsError), L"Failed to create recovery file %s",
                          tempPath.GetString());
                return FALSE;
            }
            file.WriteLine(kUtf8Marker);
            if (snapshot.sessionStart != CFileTime()) {
                file.WriteLine(kSessionStartPrefix + std::to_string(snapshot.sessionStart.GetTicks()) + "]");
            }
            if (!snapshot.historyUnscanned.IsEmpty()) {
                WriteSet(file, kUnscannedHistoryHeader, snapshot.historyUnscanned);
            }
            WriteSet(file, kFlashHeader, snapshot.flash);
            WriteSet(file, kJavaHeader, snapshot.java);
            WriteSet(file, kHistoryHeader, snapshot.history);
            WriteSet(file, kCookiesHeader, snapshot.cookies);
            file.Flush();
        }
        if (!MoveFileExW(tempPath, strPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            LOG_ERROR(GetLastError(), L"Failed to put recovery file %s in place", strPath.GetString());
            DeleteFileW(tempPath);
            return FALSE;
        }
        return TRUE;
    } catch (const CFileException& e) {
        LOG_EXCEPTION(e, L"Failed to write recovery file %s", strPath.GetString());
    }
    DeleteFileW(tempPath);
    return FALSE;
}

BOOL CRecoveryFile::Read(const CString& strPath, CRecoverySnapshot& snapshot, CFileTime& lastWriteTime)
{
    CFile file;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareExclusive)) {
        return FALSE;
    }
    try {
        FILETIME written = {};
        if (!GetFileTime(file.GetHandle(), nullptr, nullptr, &written)) {
            LOG_ERROR(GetLastError(), L"Failed to read the time of recovery file %s", strPath.GetString());
            return FALSE;
        }
        const ULONGLONG length = file.GetLength();
        if (length > kMaxFileBytes) {
            LOG_MESSAGE(L"Recovery file %s is too large to be a snapshot (%I64u bytes)", strPath.GetString(), length);
            return FALSE;
        }
        std::string content(static_cast<size_t>(length), '\0');
        size_t filled = 0;
        while (filled < content.size()) {
            const UINT n = file.Read(&content[filled], static_cast<UINT>(content.size() - filled));
            if (n == 0) {
                break;
            }
            filled += n;
        }
        content.resize(filled);
        lastWriteTime = CFileTime(written);
        snapshot = Parse(content);
        return TRUE;
    } catch (const CFileException& e) {
        LOG_EXCEPTION(e, L"Failed to read recovery file %s", strPath.GetString());
    }
    return FALSE;
}

CRecoverySnapshot CRecoveryFile::Parse(const std::string& content)
{
    CRecoverySnapshot result;
    CLineReader lines(content);
    bool bUtf8 = false;
    std::string line;
    bool bMore = false;
    bool bUnscanned = false;
    std::vector<std::string> unscanned;
    while ((bMore = lines.Next(line)) && line != kFlashHeader) {
        if (line == kUtf8Marker) {
            bUtf8 = true;
        } else if (line.rfind(kSessionStartPrefix, 0) == 0) {
            result.sessionStart = ParseSessionStart(line);
            bUnscanned = false;
        } else if (line == kUnscannedHistoryHeader) {
            bUnscanned = true;
        } else if (IsHeader(line)) {
            bUnscanned = false;  // a section of an earlier version
        } else if (bUnscanned) {
            unscanned.push_back(line);
        }
    }
    for (const std::string& store : unscanned) {
        result.historyUnscanned.Add(Decode(store, bUtf8));
    }
    for (const CSectionSpec& section : kSetSections) {
        CStringSet& set = result.*section.pSet;
        while (bMore && (bMore = lines.Next(line))) {
            if (line == section.pszNextHeader) {
                break;
            }
            if (line != section.pszHeader) {
                set.Add(Decode(line, bUtf8));
            }
        }
    }
    std::string parts[kCookieLines];
    while (bMore) {
        int n = 0;
        while (n < kCookieLines && (bMore = lines.Next(parts[n]))) {
            ++n;
        }
        if (n == kCookieLines) {
            result.cookies.Add(Decode(parts[0] + "\n" + parts[1] + "\n" + parts[2] + "\n" + parts[3], bUtf8));
        }
    }
    return result;
}

CFileTime CRecoveryFile::SessionStartOf(const CRecoverySnapshot& snapshot, CFileTime lastWriteTime)
{
    // The file is written after the start: a recorded start later than the
    // file cannot be right, and a later start would leave the session's
    // entries behind as the user's.
    if (snapshot.sessionStart == CFileTime()) {
        return lastWriteTime;
    }
    if (snapshot.sessionStart > lastWriteTime) {
        LOG_MESSAGE(L"CRecoveryFile::SessionStartOf recorded start %I64u is after the file's time %I64u",
                    snapshot.sessionStart.GetTicks(), lastWriteTime.GetTicks());
        return lastWriteTime;
    }
    return snapshot.sessionStart;
}
