#pragma once

#include <windows.h>
#include <winternl.h>

#include <map>
#include <memory>
#include <vector>

#include "cleanup/ProcessInspector.h"
#include "framework/Handles.h"
#include "framework/String.h"
#include "framework/Thread.h"

// Finds a process that holds a file open. The system's handle table is read
// once, on the first question, and resolved lazily, one image group at a
// time in image order (the rendering control's own processes first, this
// program last), only until the asked file is found; what is left stays
// pending for later questions. File object names are asked on a worker
// thread, so that a query that hangs costs 100 ms and a fresh worker.
class COpenHandles : public CProcessInspector {
public:
    COpenHandles();
    ~COpenHandles() override;

    // TRUE when a process holds the file; strProcessPath then receives that
    // process's image path in drive-letter form.
    [[nodiscard]] BOOL FindOpeningProcess(const CString& strPath, CString& strProcessPath);

    // The order of m_pendingHandles: paths that contain "iexplore" first,
    // paths that contain this program's file name last, code-point order
    // within each class. Substring tests are exact.
    struct CImageOrder {
        CString strOwnFileName;
        bool operator()(const CString& a, const CString& b) const;
    };

    // A file object's name in device form. Windows already names it
    // "\Device\HarddiskVolumeN\dir\file"; Wine says "\??\C:\dir\file".
    static CString NormaliseObjectName(const CString& strName);

protected:
    struct CHandleEntry {
        DWORD dwProcessId;
        USHORT usHandleValue;
    };

    void TakeHandleSnapshot();
    void ResolveProcessHandles(DWORD dwProcessId, std::vector<CHandleEntry> entries);
    CString GetObjectTypeName(HANDLE hObject);
    // The object's raw name, asked on the worker; empty on failure or after
    // the 100 ms time-out.
    CString GetHandleFileName(HANDLE hFile);

    // Runs on the worker thread: checks that the handle answers as a file,
    // then copies the object's name into pszName (cchName characters at
    // most) and sets *pcchName. Must not allocate or lock: the thread may be
    // terminated inside it.
    virtual NTSTATUS QueryFileObjectName(HANDLE hFile, wchar_t* pszName, int cchName, int* pcchName);

private:
    struct CNameWorker;
    static unsigned __stdcall NameWorkerProcedure(void* pParameter);
    bool StartNameWorker();
    // Ends the worker: asks it to leave, or terminates it when it hangs.
    void StopNameWorker(bool bTerminateAtOnce);
    CString OwnerImage(DWORD dwProcessId) const;

    CLibrary m_hNtdll;
    CLibrary m_hAdvapi;
    native::NtQuerySystemInformationFn m_pfnNtQuerySystemInformation = nullptr;
    native::NtQueryObjectFn m_pfnNtQueryObject = nullptr;
    native::NtQueryInformationFileFn m_pfnNtQueryInformationFile = nullptr;
    native::RtlAdjustPrivilegeFn m_pfnRtlAdjustPrivilege = nullptr;
    native::OpenProcessTokenFn m_pfnOpenProcessToken = nullptr;

    std::map<CString, CString> m_fileOwners;
    std::map<DWORD, CString> m_processImages;
    std::map<CString, std::map<DWORD, std::vector<CHandleEntry>>, CImageOrder> m_pendingHandles;

    std::unique_ptr<CNameWorker> m_pNameWorker;
};
