#include "stores/CookiesIndexDat.h"

#include <shlobj.h>

#include "framework/Logger.h"

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
    m_pDeletedUrls = nullptr;
    return ScanIndex();
}

BOOL CCookiesIndexDat::ListDeletedEntries(std::vector<CString>& urls)
{
    m_pDeletedUrls = &urls;
    const BOOL bResult = ScanIndex();
    m_pDeletedUrls = nullptr;
    return bResult;
}

BOOL CCookiesIndexDat::ScanIndex()
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

// A cookie record the URL cache still indexes is deleted through it first
// (see EraseRecord): an erased live record would leave its hash slot
// behind, and the host's cookies could then never be stored again.
BOOL CCookiesIndexDat::ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl, CString,
                                    CFileTime)
{
    if (m_pDeletedUrls != nullptr) {
        if (dwType == IndexDat::kSignatureLeak || (dwType == IndexDat::kSignatureUrl && !IsBlockAllocated(dwOffset))) {
            m_pDeletedUrls->push_back(strUrl);
        }
    } else if (dwType != IndexDat::kSignatureRedirect) {
        (void)EraseRecord(dwType, dwOffset, dwSize, strUrl);
    }
    return TRUE;
}
