#pragma once

#include "cleanup/ProcessInspector.h"
#include "framework/StringSet.h"

// The image paths of the processes that ran when the first question came,
// kept for the cache's lifetime.
class CRunningProcesses : public CProcessInspector {
public:
    CRunningProcesses();

    // Whether the file is the image of a running process.
    [[nodiscard]] BOOL IsRunningImage(const CString& strPath);
    void PopulateCache();

private:
    native::EnumProcessesFn m_pfnEnumProcesses = nullptr;
    CStringSet m_runningImages;
};
