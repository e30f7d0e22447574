#pragma once

#include <vector>

#include "framework/String.h"
#include "framework/Time.h"
#include "stores/IndexDatParser.h"

// Erases every "URL " and "LEAK" record of the cookie index.
class CCookiesIndexDat : public CIndexDatParser {
public:
    CCookiesIndexDat();

    // The platform's cookies folder followed by "\".
    static CString GetCookiesFolder();

    // Scans the index file of the cookies folder, if there is one. FALSE
    // when the file exists but could not be scanned.
    [[nodiscard]] BOOL RemoveEntries();
    // Adds the URL of every record the URL cache has deleted and that can
    // still be read ("LEAK" records, records in freed blocks). Writes
    // nothing. FALSE as for RemoveEntries.
    [[nodiscard]] BOOL ListDeletedEntries(std::vector<CString>& urls);

protected:
    BOOL ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl, CString strLocalPath,
                      CFileTime timeLastAccess) override;

private:
    BOOL ScanIndex();

    CString m_strCookiesFolder;
    std::vector<CString>* m_pDeletedUrls = nullptr;
};
