#include "app/UrlHandOff.h"

#include <cstring>
#include <vector>

#include "framework/Logger.h"
#include "shell/ShellMessages.h"

namespace {

// A global atom's name takes at most 255 characters; the buffer is larger
// so that a longer answer could never be mistaken for a whole one.
constexpr int kAtomBufferChars = 2048;

CMappedView MapSharedMemory(HANDLE hSharedMemory)
{
    if (hSharedMemory == nullptr) {
        return CMappedView();
    }
    return CMappedView(MapViewOfFile(hSharedMemory, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                     CUrlHandOff::kSharedMemoryBytes));
}

}  // namespace

CHandle CUrlHandOff::CreateSharedMemory()
{
    CHandle hMapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSharedMemoryBytes,
                                        kSharedMemoryName));
    if (!hMapping) {
        LOG_ERROR(GetLastError(), L"CUrlHandOff cannot create %s", kSharedMemoryName);
    }
    return hMapping;
}

int CUrlHandOff::WriteToView(void* pView, size_t cbView, const CString& strUrl)
{
    const size_t nRoom = cbView / sizeof(wchar_t);
    if (pView == nullptr || nRoom == 0) {
        return 0;
    }
    size_t nChars = static_cast<size_t>(strUrl.GetLength());
    if (nChars > nRoom - 1) {
        nChars = nRoom - 1;
        // Half a surrogate pair is no character at all.
        if (nChars > 0 && IS_HIGH_SURROGATE(strUrl[static_cast<int>(nChars) - 1])) {
            --nChars;
        }
    }
    auto* pchView = static_cast<wchar_t*>(pView);
    std::memcpy(pchView, strUrl.GetString(), nChars * sizeof(wchar_t));
    pchView[nChars] = L'\0';
    return static_cast<int>(nChars);
}

BOOL CUrlHandOff::ReadFromView(const void* pView, size_t cbView, CString& strUrl)
{
    const size_t nRoom = cbView / sizeof(wchar_t);
    if (pView == nullptr || nRoom == 0) {
        return FALSE;
    }
    // Another process may write while we read: copy first, then look.
    std::vector<wchar_t> copy(nRoom);
    std::memcpy(copy.data(), pView, nRoom * sizeof(wchar_t));
    for (size_t i = 0; i < nRoom; ++i) {
        if (copy[i] == L'\0') {
            strUrl = CString(copy.data(), static_cast<int>(i));
            return TRUE;
        }
    }
    return FALSE;
}

ATOM CUrlHandOff::PrepareUrl(const CString& strUrl, HANDLE hSharedMemory)
{
    if (strUrl.IsEmpty()) {
        return 0;
    }
    if (strUrl.GetLength() <= kMaxAtomChars) {
        const ATOM atom = GlobalAddAtomW(strUrl);
        if (atom == 0) {
            LOG_ERROR(GetLastError(), L"CUrlHandOff cannot make an atom of %s", strUrl.GetString());
        }
        return atom;
    }
    CMappedView view = MapSharedMemory(hSharedMemory);
    if (!view) {
        LOG_ERROR(GetLastError(), L"CUrlHandOff cannot map %s for a URL of %d characters", kSharedMemoryName,
                  strUrl.GetLength());
        return 0;
    }
    const int nWritten = WriteToView(view.get(), kSharedMemoryBytes, strUrl);
    if (nWritten < strUrl.GetLength()) {
        LOG_MESSAGE(L"CUrlHandOff a URL of %d characters was cut to %d", strUrl.GetLength(), nWritten);
    }
    view.reset();
    const ATOM atom = GlobalAddAtomW(kUseSharedMemory);
    if (atom == 0) {
        LOG_ERROR(GetLastError(), L"CUrlHandOff cannot make an atom of %s", kUseSharedMemory);
    }
    return atom;
}

BOOL CUrlHandOff::TakeUrl(ATOM atom, HANDLE hSharedMemory, CString& strUrl)
{
    // Below MAXINTATOM a value is an integer atom: no copy ever sends one,
    // and the system would answer with a made-up "#n" for a URL.
    if (atom < MAXINTATOM) {
        LOG_MESSAGE(L"CUrlHandOff %u is no string atom", static_cast<unsigned>(atom));
        return FALSE;
    }
    std::vector<wchar_t> buffer(kAtomBufferChars, L'\0');
    SetLastError(ERROR_SUCCESS);
    const UINT nChars = GlobalGetAtomNameW(atom, buffer.data(), kAtomBufferChars);
    const DWORD dwError = GetLastError();
    GlobalDeleteAtom(atom);
    if (nChars == 0 || nChars >= static_cast<UINT>(kAtomBufferChars)) {
        LOG_ERROR(dwError, L"CUrlHandOff no URL in atom %u", static_cast<unsigned>(atom));
        return FALSE;
    }
    CString strText(buffer.data(), static_cast<int>(nChars));
    if (strText != kUseSharedMemory) {
        strUrl = strText;
        return TRUE;
    }
    CMappedView view = MapSharedMemory(hSharedMemory);
    if (!view) {
        LOG_ERROR(GetLastError(), L"CUrlHandOff cannot map %s", kSharedMemoryName);
        return FALSE;
    }
    if (!ReadFromView(view.get(), kSharedMemoryBytes, strText)) {
        LOG_MESSAGE(L"CUrlHandOff %s holds no terminated URL", kSharedMemoryName);
        return FALSE;
    }
    // Read once: a later hand-off that fails to write finds nothing stale.
    *static_cast<wchar_t*>(view.get()) = L'\0';
    if (strText.IsEmpty()) {
        LOG_MESSAGE(L"CUrlHandOff %s holds an empty URL", kSharedMemoryName);
        return FALSE;
    }
    strUrl = strText;
    return TRUE;
}
