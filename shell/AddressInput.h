#pragma once

#include "framework/String.h"

// What the address box's text means: a search, an address to go to, or
// neither (an address the platform cannot split). Texts are taken as typed,
// already trimmed.
class CAddressInput {
public:
    // A search: no "://", and either a blank after the first character or
    // no "." at all, unless the text names an existing file or folder.
    static bool IsSearch(const CString& strText);
    // Ctrl+Enter: "www." after the scheme (or at the start) unless there,
    // ".com" at the end of the host unless there. An empty text stays so.
    static CString Complete(const CString& strText);
    // Whether the address can be navigated to: "about:blank", or one that
    // splits into parts with a host name (a file address needs none). An
    // address without "://" is checked as a file address when it holds
    // ":\", else as an http address; the text itself is not changed.
    static bool IsValidUrl(const CString& strAddress);
};
