#pragma once

#include <set>

#include "framework/String.h"
#include "tests/support/TestFiles.h"

// The "Location" of every record that libmsiecf's msiecfexport lists in the
// mode ("items", "recovered", "all"), read from a copy of the index file
// given the signature that reader insists on. The copy and the output stay
// in the folder.
std::multiset<CString> ExportLocations(const CTempFolder& folder, const CString& strIndex, const wchar_t* pszMode);
