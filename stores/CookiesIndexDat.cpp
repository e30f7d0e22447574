#include "stores/CookiesIndexDat.h"

#include <shlobj.h>

#include "app/Logger.h"
#include "stores/CacheReader.h"

CString CCookiesIndexDat::GetCookiesFolder()
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COOKIES, nullptr, SHGFP_TYPE_CURRENT, path))) {
        LOG_MESSAGE(L"CCookiesIndexDat cannot find the cookies folder");
        return CString();
    }
    return CString(path) + L"\\";
}

CCookiesIndexDat::CCookiesIndexDat() : m_strCookiesFolder(GetCookiesFolder()) {}

BOOL CCookiesIndexDat::RemoveEntries()
{
    if (m_strCookiesFolder.IsEmpty()) {
        return FALSE;
    }
    const CString strIndex = m_strCookiesFolder + L"index.dat";
    if (GetFileAttributesW(strIndex) == INVALID_FILE_ATTRIBUTES) {
        return TRUE;
    }
    OpenFile(strIndex);
    const BOOL bResult = IterateEntries(FALSE);
    CloseFile();
    return bResult;
}

// As in the cache index, a record the URL cache still lists is deleted
// through it first: an erased live cookie record would leave its hash slot
// behind, and the host's cookies could then never be stored again.
BOOL CCookiesIndexDat::ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl, CString,
                                    CTime)
{
    if (dwType == IndexDat::kSignatureRedirect) {
        return TRUE;
    }
    if (dwType != IndexDat::kSignatureUrl || CCacheReader::ReleaseUrl(strUrl)) {
        RemoveEntry(dwOffset, dwSize);
    }
    return TRUE;
}
