#pragma once

#include <string>
#include <vector>

#include "framework/String.h"

// The entries of a Java properties file, read the way the Java runtime
// reads its own deployment settings: ISO-8859-1 text; blank lines and
// comment lines ("#", "!") skipped; a line ending in an odd number of
// backslashes continued on the next; the key ended by the first unescaped
// "=", ":" or blank; backslash escapes ("\:", "\\", "\t", "\uXXXX", ...)
// resolved in key and value.
class CJavaProperties {
public:
    struct CEntry {
        CString strKey;
        CString strValue;
    };

    // Every entry in the order written; a key written twice appears twice.
    static std::vector<CEntry> Parse(const std::string& text);

private:
    static CString Unescape(const std::wstring& text);
};
