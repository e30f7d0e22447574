#include "cleanup/FileFinderOptions.h"

void CFileFinderOptions::Reset()
{
    const CTime now = CTime::GetCurrentTime();
    m_strBaseFolder.Empty();
    m_strMask = L"*.*";
    m_strText.Empty();
    m_bRecursive = FALSE;
    m_dwFilters = 0;
    m_nMinSize = 0;
    m_nMaxSize = 0;
    m_timeCreationFrom = now;
    m_timeCreationTo = now;
    m_timeLastWriteFrom = now;
    m_timeLastWriteTo = now;
    m_preciseLastWriteFrom = CFileTime();
    m_timeLastAccessFrom = now;
    m_timeLastAccessTo = now;
    m_dwAttributes = 0;
}
