#include "tests/stores/RecordingParser.h"

BOOL CRecordingParser::ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl,
                                    CString strLocalPath, CFileTime timeLastAccess)
{
    m_seen.push_back({dwType, dwOffset, dwSize, std::move(strUrl), std::move(strLocalPath), timeLastAccess});
    return m_decide ? m_decide(*this, m_seen.back()) : TRUE;
}

CScanOutcome ScanFile(const CString& strPath, BOOL bScrub, CRecordingParser::Decision decide, DWORD dwWindowSize)
{
    CRecordingParser parser(std::move(decide), dwWindowSize);
    parser.OpenFile(strPath);
    const BOOL bResult = parser.IterateEntries(bScrub);
    parser.CloseFile();
    return {bResult, std::move(parser.m_seen)};
}
