#pragma once

#include <functional>

#include "framework/String.h"

// A read-only walk over the records of an index.dat store, written apart
// from the program's own parser so that the audit does not merely agree with
// it. Records marked released are not listed; records whose blocks the
// allocation bitmap calls free are listed with " free" after their type, as
// their bytes are still a trace.
struct CIndexDatRecord {
    CString strType;       // "URL", "LEAK" or "REDR", plus " free" when freed
    CString strUrl;        // empty for REDR
    CString strLocalFile;  // directory prefix and file name, or empty
    unsigned long ulOffset = 0;
};

bool ListIndexDatRecords(const CString& strPath, const std::function<void(const CIndexDatRecord&)>& visit,
                         CString& strError);
