#pragma once

#include <windows.h>

#include "cleanup/NativeApi.h"
#include "framework/Handles.h"
#include "framework/String.h"

// What the running-process cache and the open-handle scanner share: the
// process-status functions, looked up at run time, and the conversions
// between drive-letter paths and the device paths that the system uses for
// process images and file objects.
class CProcessInspector {
public:
    CProcessInspector();
    virtual ~CProcessInspector();
    CProcessInspector(const CProcessInspector&) = delete;
    CProcessInspector& operator=(const CProcessInspector&) = delete;

    // The process's image path: device form when the image-name function
    // exists, drive-letter form otherwise; empty on failure (logged).
    CString GetProcessFileName(HANDLE hProcess) const;

    // "C:\dir\file" -> "\Device\HarddiskVolume1\dir\file"; empty when the
    // system knows no such drive.
    static CString ToDevicePath(const CString& strPath);

    // The target of a drive letter's DOS device ("\Device\HarddiskVolume1"),
    // empty when there is none.
    static CString QueryDosDeviceTarget(wchar_t chLetter);
    using DosDeviceQuery = CString (*)(wchar_t chLetter);

    // The reverse of ToDevicePath: the first letter from A to Z whose target
    // is the path's leading folder; the path unchanged when none is.
    static CString ToDriveLetterPath(const CString& strDevicePath,
                                     DosDeviceQuery pfnQuery = &CProcessInspector::QueryDosDeviceTarget);

protected:
    CLibrary m_hPsapi;
    native::GetProcessImageFileNameWFn m_pfnGetProcessImageFileName = nullptr;
    native::GetModuleFileNameExWFn m_pfnGetModuleFileNameEx = nullptr;
};
