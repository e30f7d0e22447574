#pragma once

#include <windows.h>

#include "framework/LanguageManager.h"

// The language table of the program's own "LANGUAGES" resource, one per
// process, reached through Instance.
class CLanguageManagerResource : public CLanguageManager {
public:
    // hModule null: the running program.
    explicit CLanguageManagerResource(HMODULE hModule = nullptr);

    // Creates, loads and selects the table on first use. Start-up calls it
    // first, on the main thread, before other threads exist; creation and
    // release take no lock.
    static CLanguageManagerResource* Instance();
    // Deletes the table; the next Instance creates it again.
    static void Release();

    // The user's language as the platform reports it (the user default
    // locale's default-language item).
    static LANGID UserLanguageId();

protected:
    CString LoadText() override;

private:
    HMODULE m_hModule;
    static CLanguageManagerResource* s_pInstance;
};
