#pragma once

#include "framework/FileTime.h"
#include "framework/String.h"
#include "stores/IndexDatParser.h"

// Erases, in the Temporary Internet Files index, the records a session
// left: "URL " and "LEAK" records last used at or after a threshold whose
// file is gone, and every "REDR" record.
class CTempInternetFilesIndexDat : public CIndexDatParser {
public:
    CTempInternetFilesIndexDat();

    // The platform's cache folder followed by "\Content.IE5\".
    static CString GetCacheFolder();

    // Scans the index file of the cache folder, if there is one, and
    // erases what qualifies. FALSE when the file exists but could not be
    // scanned.
    [[nodiscard]] BOOL RemoveEntries(CFileTime timeThreshold);

protected:
    BOOL ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl, CString strLocalPath,
                      CFileTime timeLastAccess) override;

private:
    CString m_strCacheFolder;
    CFileTime m_timeThreshold;
};
