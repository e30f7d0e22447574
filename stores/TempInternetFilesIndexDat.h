#pragma once

#include "framework/FileTime.h"
#include "framework/String.h"

#include <vector>
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
    // Adds to residue every record of the session the index still holds:
    // live records of entries the cache cleaner removes, and the records
    // RemoveEntries would erase that the URL cache no longer lists (deleted
    // but readable). Writes nothing. FALSE as for RemoveEntries.
    [[nodiscard]] BOOL CheckEntries(CFileTime timeStart, std::vector<CString>& residue);

protected:
    BOOL ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl, CString strLocalPath,
                      CFileTime timeLastAccess) override;

private:
    // The per-record rule of RemoveEntries.
    bool IsErasable(DWORD dwType, const CString& strLocalPath, CFileTime timeLastAccess) const;
    // Opens the index of the cache folder and scans it; TRUE when there is none.
    BOOL ScanIndex(CFileTime timeThreshold);

    CString m_strCacheFolder;
    CFileTime m_timeThreshold;
    std::vector<CString>* m_pResidue = nullptr;
};
