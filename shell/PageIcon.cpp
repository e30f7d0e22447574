#include "shell/PageIcon.h"

#include <mshtml.h>
#include <olectl.h>
#include <shlobj.h>
#include <urlmon.h>
#include <wininet.h>

#include <vector>

#include "framework/ComPtr.h"
#include "framework/Logger.h"
#include "resources/Resource.h"

namespace {

const wchar_t kDefaultIconPath[] = L"/favicon.ico";
// Pages with more elements than this are not searched further for an icon
// link: the head, where links belong, comes first.
constexpr long kMaxElementsSearched = 10000;

}  // namespace

void CPageIcon::Free()
{
    if (m_hImage == nullptr) {
        return;
    }
    if (m_nKind == IMAGE_BITMAP) {
        DeleteObject(m_hImage);
    } else {
        DestroyIcon(static_cast<HICON>(m_hImage));
    }
    m_hImage = nullptr;
}

void CPageIcon::Take(HANDLE hImage, UINT nKind)
{
    Free();
    m_hImage = hImage;
    m_nKind = nKind;
}

void CPageIcon::SetProgramIcon()
{
    Take(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_NULVANE), IMAGE_ICON, 16, 16, 0), IMAGE_ICON);
}

bool CPageIcon::IsIconRel(const CString& strRel)
{
    return strRel.CompareNoCase(L"icon") == 0 || strRel.CompareNoCase(L"shortcut icon") == 0;
}

CString CPageIcon::FindIconHref(IHTMLDocument2* pDocument)
{
    CComPtr<IHTMLElementCollection> pAll;
    long nCount = 0;
    if (pDocument == nullptr || FAILED(pDocument->get_all(pAll.put())) || !pAll ||
        FAILED(pAll->get_length(&nCount))) {
        return kDefaultIconPath;
    }
    for (long i = 0; i < nCount && i < kMaxElementsSearched; ++i) {
        CVariant index;
        V_VT(index.get()) = VT_I4;
        V_I4(index.get()) = i;
        CVariant none;
        CComPtr<IDispatch> pItem;
        CComPtr<IHTMLLinkElement> pLink;
        if (FAILED(pAll->item(*index.get(), *none.get(), pItem.put())) || !pItem ||
            FAILED(pItem.QueryInterface(pLink))) {
            continue;
        }
        CBstr bstrRel;
        if (FAILED(pLink->get_rel(bstrRel.put())) || bstrRel.get() == nullptr || !IsIconRel(bstrRel.get())) {
            continue;
        }
        CBstr bstrHref;
        if (SUCCEEDED(pLink->get_href(bstrHref.put())) && bstrHref.get() != nullptr) {
            return CString(bstrHref.get());
        }
        return kDefaultIconPath;
    }
    return kDefaultIconPath;
}

CString CPageIcon::ResolveAddress(const CString& strHref, const CString& strLocation)
{
    CString strAddress = strHref;
    if (strAddress.Find(L"://") < 0) {
        const int nScheme = strLocation.Find(L"://");
        if (strAddress.Left(1) == L"/") {
            const int nPathStart = nScheme >= 0 ? strLocation.Find(L'/', nScheme + 3) : -1;
            strAddress = (nPathStart >= 0 ? strLocation.Left(nPathStart) : strLocation) + strAddress;
        } else {
            strAddress = strLocation.Left(strLocation.ReverseFind(L'/') + 1) + strAddress;
        }
    }
    // The canonical form: ".." and "." resolved, blanks encoded.
    std::vector<wchar_t> buffer(static_cast<size_t>(strAddress.GetLength()) + 64);
    for (int nTry = 0; nTry < 4; ++nTry) {
        DWORD dwLength = static_cast<DWORD>(buffer.size());
        if (InternetCanonicalizeUrlW(strAddress, buffer.data(), &dwLength, 0)) {
            return CString(buffer.data(), static_cast<int>(dwLength));
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            break;
        }
        buffer.resize(std::max<size_t>(buffer.size() * 2, static_cast<size_t>(dwLength) + 1));
    }
    return strAddress;
}

bool CPageIcon::Load(const CString& strAddress)
{
    if (strAddress.IsEmpty()) {
        return false;
    }
    return LoadPicture(strAddress) || LoadDownloaded(strAddress);
}

bool CPageIcon::LoadPicture(const CString& strAddress)
{
    CComPtr<IPicture> pPicture;
    if (FAILED(OleLoadPicturePath(const_cast<LPOLESTR>(strAddress.GetString()), nullptr, 0, 0, IID_IPicture,
                                  pPicture.put_void())) ||
        !pPicture) {
        return false;
    }
    SHORT nType = PICTYPE_NONE;
    OLE_HANDLE hHandle = 0;
    if (FAILED(pPicture->get_Type(&nType)) || FAILED(pPicture->get_Handle(&hHandle)) || hHandle == 0) {
        return false;
    }
    // The picture owns its handle: keep a copy of our own.
    const HANDLE hPicture = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(hHandle));
    if (nType == PICTYPE_ICON) {
        if (HICON hIcon = CopyIcon(static_cast<HICON>(hPicture))) {
            Take(hIcon, IMAGE_ICON);
            return true;
        }
    } else if (nType == PICTYPE_BITMAP) {
        if (HANDLE hBitmap = CopyImage(hPicture, IMAGE_BITMAP, 0, 0, 0)) {
            Take(hBitmap, IMAGE_BITMAP);
            return true;
        }
    }
    return false;
}

bool CPageIcon::LoadDownloaded(const CString& strAddress)
{
    wchar_t szAppData[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szAppData))) {
        return false;
    }
    const CString strExtension = strAddress.Right(3);
    const CString strFile = CString(szAppData) + L"\\favIcon." + strExtension;
    const HRESULT hr = URLDownloadToFileW(nullptr, strAddress, strFile, 0, nullptr);
    if (FAILED(hr)) {
        LOG_ERROR(static_cast<DWORD>(hr), L"CPageIcon::Load cannot download %s", strAddress.GetString());
        return false;
    }
    Sleep(100);
    bool bLoaded = false;
    if (strExtension.CompareNoCase(L"ico") == 0) {
        if (HANDLE hIcon = LoadImageW(nullptr, strFile, IMAGE_ICON, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE)) {
            Take(hIcon, IMAGE_ICON);
            bLoaded = true;
        }
    } else if (strExtension.CompareNoCase(L"png") == 0) {
        SetProgramIcon();
        bLoaded = true;
    } else {
        Free();
    }
    // The downloaded copy is a trace of the page: it goes at once.
    if (!DeleteFileW(strFile)) {
        LOG_ERROR(GetLastError(), L"Failed to delete file %s", strFile.GetString());
    }
    return bLoaded;
}
