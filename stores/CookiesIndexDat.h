#pragma once

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

protected:
    BOOL ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl, CString strLocalPath,
                      CFileTime timeLastAccess) override;

private:
    CString m_strCookiesFolder;
};
