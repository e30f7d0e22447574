#pragma once

#include <windows.h>

#include <vector>

#include "framework/StringSet.h"
#include "stores/IndexDatParser.h"

// The history stores: every file named "index.dat" below the history
// folder (the main container and any daily or weekly ones). Gathers the URLs
// of their live records into a snapshot, or erases every record whose URL
// the snapshot lacks and every record the cache has already deleted, then
// tells the shell that the history folders changed. "REDR" records are left
// alone.
class CHistoryIndexDat : public CIndexDatParser {
public:
    // Lists the stores below the platform's history folder.
    CHistoryIndexDat();
    // Lists the stores below another folder; an empty one lists none.
    explicit CHistoryIndexDat(const CString& strHistoryFolder);
    ~CHistoryIndexDat() override = default;

    // Adds the URL of every live "URL " and "LEAK" record to the snapshot.
    // The stores that could not be scanned are added to pUnscanned, if
    // given: the snapshot knows nothing of what they hold.
    void CollectEntries(CStringSet* pSnapshot, CStringSet* pUnscanned = nullptr);
    // Erases, in every store except those named in pSkip, the records whose
    // URL is not in the snapshot and the deleted records, then refreshes the
    // shell's history views. A read error in one store does not stop the
    // others; the first one is thrown again at the end.
    void RemoveEntries(CStringSet* pSnapshot, const CStringSet* pSkip = nullptr);

    // Adds to residue every record RemoveEntries would erase (the session's
    // and the deleted ones that can still be read), and to seen every URL
    // of the snapshot that a live record still holds. Writes nothing.
    void CheckEntries(CStringSet* pSnapshot, const CStringSet* pSkip, std::vector<CString>& residue,
                      CStringSet& seen);

    const std::vector<CString>& GetFiles() const { return m_files; }

protected:
    BOOL ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl, CString strLocalPath,
                      CFileTime timeLastAccess) override;

private:
    void ListFiles(const CString& strHistoryFolder);
    // Scans every listed store but those in pSkip; names the ones whose scan
    // did not run in pUnscanned.
    void ProcessFiles(CStringSet* pUnscanned, const CStringSet* pSkip);

    std::vector<CString> m_files;
    BOOL m_bCollect = FALSE;
    CStringSet* m_pSnapshot = nullptr;
    // While checking: where the findings go.
    std::vector<CString>* m_pResidue = nullptr;
    CStringSet* m_pSeen = nullptr;
};
