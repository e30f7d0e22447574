#pragma once

#include <windows.h>

#include "framework/String.h"

// A store's root folder, below which a cleaner deletes files and then the
// folders those deletions left empty, never the root itself and nothing
// above it.
class CStoreFolder {
public:
    // The root is used without a trailing backslash.
    explicit CStoreFolder(const CString& strRoot);

    const CString& GetRoot() const { return m_strRoot; }
    bool IsEmpty() const { return m_strRoot.IsEmpty(); }
    // Whether the path names something below the root (not the root).
    bool Contains(const CString& strPath) const;

    // After the file at strFilePath was deleted: removes its folder when
    // nothing is left in it, then that folder's folder, and so on up to,
    // but never including, the root. FALSE when an empty folder could not
    // be removed.
    [[nodiscard]] BOOL RemoveEmptiedFolders(const CString& strFilePath) const;

private:
    CString m_strRoot;
};
