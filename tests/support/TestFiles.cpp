#include "tests/support/TestFiles.h"

#include <windows.h>

#include <atomic>

#include <gtest/gtest.h>

#include "framework/Handles.h"

namespace {

std::atomic<unsigned> g_folderCounter{0};

}  // namespace

CTempFolder::CTempFolder()
{
    wchar_t temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    EXPECT_GT(n, 0u);
    m_strPath.Format(L"%snulvane-test-%lu-%lu-%u", temp, GetCurrentProcessId(), GetTickCount(), g_folderCounter++);
    EXPECT_TRUE(CreateDirectoryW(m_strPath, nullptr)) << "cannot create " << m_strPath.ToUtf8();
}

CTempFolder::~CTempFolder()
{
    RemoveTestTree(m_strPath);
}

CString CTempFolder::operator/(const wchar_t* pszRelative) const
{
    return m_strPath + L"\\" + pszRelative;
}

void CreateTestFolders(const CString& strPath)
{
    for (int i = 3; i <= strPath.GetLength(); ++i) {
        if (i == strPath.GetLength() || strPath[i] == L'\\') {
            CreateDirectoryW(strPath.Left(i), nullptr);
        }
    }
}

void WriteTestFile(const CString& strPath, const std::string& content)
{
    const int slash = strPath.ReverseFind(L'\\');
    if (slash > 0) {
        CreateTestFolders(strPath.Left(slash));
    }
    CHandle h(CreateFileW(strPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(h.valid()) << "cannot create " << strPath.ToUtf8() << ", error " << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    ASSERT_EQ(written, content.size());
}

std::string ReadTestFile(const CString& strPath)
{
    CHandle h(CreateFileW(strPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(h.valid()) << "cannot open " << strPath.ToUtf8();
    std::string content;
    char buffer[65536];
    DWORD n = 0;
    while (h.valid() && ReadFile(h.get(), buffer, sizeof(buffer), &n, nullptr) && n > 0) {
        content.append(buffer, n);
    }
    return content;
}

bool TestFileExists(const CString& strPath)
{
    return GetFileAttributesW(strPath) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTestTree(const CString& strPath)
{
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW(strPath + L"\\*", &data));
    if (find.valid()) {
        do {
            const CString name(data.cFileName);
            if (name == L"." || name == L"..") {
                continue;
            }
            const CString child = strPath + L"\\" + name;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                RemoveTestTree(child);
            } else {
                SetFileAttributesW(child, FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child);
            }
        } while (FindNextFileW(find.get(), &data));
    }
    find.reset();
    SetFileAttributesW(strPath, FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(strPath);
}

CString TestProgramFolder()
{
    wchar_t path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    CString folder(path, static_cast<int>(n));
    return folder.Left(folder.ReverseFind(L'\\') + 1);
}

std::vector<CString> FindTestFiles(std::vector<CString> folders, const wchar_t* pszName)
{
    std::vector<CString> found;
    while (!folders.empty()) {
        const CString folder = folders.back();
        folders.pop_back();
        WIN32_FIND_DATAW data;
        CFindHandle find(FindFirstFileW(folder + L"\\*", &data));
        if (!find) {
            continue;
        }
        do {
            const CString name(data.cFileName);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                if (name != L"." && name != L"..") {
                    folders.push_back(folder + L"\\" + name);
                }
            } else if (name.CompareNoCase(pszName) == 0) {
                found.push_back(folder + L"\\" + name);
            }
        } while (FindNextFileW(find.get(), &data));
    }
    return found;
}
