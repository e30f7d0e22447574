#pragma once

#include <windows.h>

#include <map>

#include "framework/String.h"

// The string values of a module's version resource (CompanyName,
// FileVersion, PrivateBuild, ...), from its first language and code page.
class CVersionInfo {
public:
    // Reads the resource of the module (null: the running program). FALSE
    // when the module has no readable version resource; the values are then
    // empty.
    BOOL Load(HMODULE hModule = nullptr);

    // The value, or an empty string when the resource lacks it.
    CString Get(const wchar_t* pszName) const;

private:
    std::map<CString, CString> m_values;
};
