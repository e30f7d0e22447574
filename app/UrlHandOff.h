#pragma once

#include <windows.h>

#include "framework/Handles.h"
#include "framework/String.h"

// How a starting copy hands its URL to the running copy: a global atom with
// the URL (1 to 255 characters), or, for a longer URL, the 2048-byte
// mapping NULVANE_SHARED_URL_MEMORY with the URL and its terminating zero
// and an atom of "USE_SHARED_MEMORY". Both ends treat what the other wrote
// as untrusted: every read is bounded by the atom's or the view's size.
class CUrlHandOff {
public:
    static constexpr const wchar_t* kSharedMemoryName = L"NULVANE_SHARED_URL_MEMORY";
    static constexpr DWORD kSharedMemoryBytes = 2048;
    // The longest URL the mapping carries: its characters and a zero.
    static constexpr int kMaxSharedChars = static_cast<int>(kSharedMemoryBytes / sizeof(wchar_t)) - 1;
    // The longest text a global atom holds.
    static constexpr int kMaxAtomChars = 255;

    // Creates the paging-file mapping, or opens it when another copy has.
    [[nodiscard]] static CHandle CreateSharedMemory();

    // The sending side: the atom to post for the URL (0 for an empty URL),
    // writing a long URL to the mapping first. A URL longer than the
    // mapping holds is cut to its first kMaxSharedChars characters, never
    // inside a surrogate pair. 0 also when the URL could not be written: the
    // running copy then opens its home page.
    [[nodiscard]] static ATOM PrepareUrl(const CString& strUrl, HANDLE hSharedMemory);

    // The receiving side: the URL that the atom names, the atom deleted.
    // FALSE (logged) when the atom names nothing readable, or names the
    // mapping and the mapping holds no terminated URL; strUrl is then left
    // as it was.
    [[nodiscard]] static BOOL TakeUrl(ATOM atom, HANDLE hSharedMemory, CString& strUrl);

    // The text and its zero put at the start of a view of cbView bytes, cut
    // as PrepareUrl cuts it; the number of characters written.
    static int WriteToView(void* pView, size_t cbView, const CString& strUrl);
    // The text at the start of a view of cbView bytes, up to its zero.
    // FALSE when no zero comes within the view.
    [[nodiscard]] static BOOL ReadFromView(const void* pView, size_t cbView, CString& strUrl);
};
