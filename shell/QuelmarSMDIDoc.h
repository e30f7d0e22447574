#pragma once

#include "framework/Document.h"

// The document of a browser window: the URL the window was opened with (its
// path name); empty for a window that starts blank.
class CQuelmarSMDIDoc : public CDocument {
public:
    const CString& GetUrl() const { return GetPathName(); }
};
