#pragma once

#include <functional>
#include <vector>

#include "framework/FileTime.h"
#include "framework/String.h"
#include "stores/IndexDatParser.h"

// One ProcessEntry call as the parser made it.
struct CSeenRecord {
    DWORD dwType = 0;
    DWORD dwOffset = 0;
    DWORD dwSize = 0;
    CString strUrl;
    CString strPath;
    CFileTime time;

    friend bool operator==(const CSeenRecord&, const CSeenRecord&) = default;
};

// Records every record it is handed; the test decides what ProcessEntry does.
class CRecordingParser : public CIndexDatParser {
public:
    using Decision = std::function<BOOL(CRecordingParser&, const CSeenRecord&)>;

    explicit CRecordingParser(Decision decide = {}, DWORD dwWindowSize = CIndexDatReader::kMaxWindowSize)
        : CIndexDatParser(dwWindowSize), m_decide(std::move(decide))
    {
    }
    static BOOL EraseAll(CRecordingParser& parser, const CSeenRecord& r)
    {
        parser.RemoveEntry(r.dwOffset, r.dwSize);
        return TRUE;
    }
    bool Allocated(DWORD dwOffset) const { return IsBlockAllocated(dwOffset); }
    BOOL Erase(const CSeenRecord& r) { return EraseRecord(r.dwType, r.dwOffset, r.dwSize, r.strUrl); }

    std::vector<CSeenRecord> m_seen;
    // Stands in for the URL cache's deletion when set; the keys are recorded.
    std::function<BOOL(const CString&)> m_deleteCacheEntry;
    std::vector<CString> m_deletedKeys;

protected:
    BOOL ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl, CString strLocalPath,
                      CFileTime timeLastAccess) override;
    BOOL DeleteCacheEntry(const CString& strUrl) override
    {
        m_deletedKeys.push_back(strUrl);
        return m_deleteCacheEntry ? m_deleteCacheEntry(strUrl) : CIndexDatParser::DeleteCacheEntry(strUrl);
    }

private:
    Decision m_decide;
};

// OpenFile, IterateEntries and CloseFile with a recording parser.
struct CScanOutcome {
    BOOL bResult = FALSE;
    std::vector<CSeenRecord> seen;
};
CScanOutcome ScanFile(const CString& strPath, BOOL bScrub, CRecordingParser::Decision decide = {},
                      DWORD dwWindowSize = CIndexDatReader::kMaxWindowSize);
