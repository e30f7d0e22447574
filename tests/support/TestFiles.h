#pragma once

#include <string>
#include <vector>

#include "framework/String.h"

// A fresh folder under the system's temporary folder, removed with all its
// content when the object goes.
class CTempFolder {
public:
    CTempFolder();
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const CString& Path() const { return m_strPath; }
    // The folder followed by a backslash and the relative path.
    CString operator/(const wchar_t* pszRelative) const;

private:
    CString m_strPath;
};

// Creates the folders on the way and writes the bytes; fails the test on error.
void WriteTestFile(const CString& strPath, const std::string& content);
std::string ReadTestFile(const CString& strPath);
bool TestFileExists(const CString& strPath);
void CreateTestFolders(const CString& strPath);
// Removes a folder tree; read-only files too.
void RemoveTestTree(const CString& strPath);
// Every file of the given name (case-insensitive) in the folder trees.
std::vector<CString> FindTestFiles(std::vector<CString> folders, const wchar_t* pszName);
// The folder of the running test program, with a trailing backslash.
CString TestProgramFolder();
