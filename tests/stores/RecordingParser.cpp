#include "tests/stores/RecordingParser.h"

#include "tests/support/Printers.h"

BOOL CRecordingParser::ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl,
                                    CString strLocalPath, CFileTime timeLastAccess)
{
    m_seen.push_back({dwType, dwOffset, dwSize, std::move(strUrl), std::move(strLocalPath), timeLastAccess});
    return m_decide ? m_decide(*this, m_seen.back()) : TRUE;
}

BOOL CRecordingParser::DeleteCacheEntry(const CString& strUrl)
{
    m_deletedKeys.push_back(strUrl);
    return m_deleteCacheEntry ? m_deleteCacheEntry(strUrl) : CIndexDatParser::DeleteCacheEntry(strUrl);
}

BOOL CRecordingParser::EraseAll(CRecordingParser& parser, const CSeenRecord& r)
{
    parser.RemoveEntry(r.dwOffset, r.dwSize);
    return TRUE;
}

CScanOutcome ScanFile(const CString& strPath, BOOL bScrub, CRecordingParser::Decision decide, DWORD dwWindowSize)
{
    CRecordingParser parser(std::move(decide), dwWindowSize);
    parser.OpenFile(strPath);
    CScanOutcome outcome;
    outcome.bResult = parser.IterateEntries(bScrub);
    parser.CloseFile();
    outcome.seen = std::move(parser.m_seen);
    return outcome;
}

void PrintTo(const CSeenRecord& r, std::ostream* os)
{
    *os << "{" << std::string(reinterpret_cast<const char*>(&r.dwType), 4) << " @0x" << std::hex << r.dwOffset
        << " size 0x" << r.dwSize << std::dec << " ";
    ::PrintTo(r.strUrl, os);
    *os << " ";
    ::PrintTo(r.strPath, os);
    *os << " " << r.time.GetTicks() << "}";
}
