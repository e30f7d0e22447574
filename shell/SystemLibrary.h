#pragma once

#include <windows.h>

#include <initializer_list>

// A library of the system directory loaded for its resources only (its
// code never runs), freed when the object goes. The first of the names that
// loads is taken.
class CSystemLibrary {
public:
    // The browser's resource libraries: SHDOCLC.DLL until Internet Explorer
    // 7, IEFRAME.DLL since.
    static constexpr std::initializer_list<const wchar_t*> kBrowserResourceLibraries = {L"SHDOCLC.DLL",
                                                                                         L"IEFRAME.DLL"};

    explicit CSystemLibrary(std::initializer_list<const wchar_t*> names);
    ~CSystemLibrary();
    CSystemLibrary(const CSystemLibrary&) = delete;
    CSystemLibrary& operator=(const CSystemLibrary&) = delete;

    bool IsLoaded() const { return m_hModule != nullptr; }
    HMODULE Get() const { return m_hModule; }

private:
    HMODULE m_hModule = nullptr;
};
