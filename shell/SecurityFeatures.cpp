#include "shell/SecurityFeatures.h"

#include "framework/Handles.h"
#include "framework/Logger.h"
#include "framework/String.h"

namespace {

// FEATURE_WEBOC_POPUPMANAGEMENT, FEATURE_LOCALMACHINE_LOCKDOWN,
// FEATURE_SECURITYBAND and FEATURE_RESTRICT_ACTIVEXINSTALL are left as they
// are: the views block pop-ups and add-on installs themselves, and the
// local-machine lockdown is a registry setting of start-up. Protocol
// lockdown comes twice; switching it on again changes nothing.
constexpr INTERNETFEATURELIST kFeatures[] = {
    FEATURE_OBJECT_CACHING,
    FEATURE_ZONE_ELEVATION,
    FEATURE_MIME_HANDLING,
    FEATURE_MIME_SNIFFING,
    FEATURE_WINDOW_RESTRICTIONS,
    FEATURE_BEHAVIORS,
    FEATURE_DISABLE_MK_PROTOCOL,
    FEATURE_VALIDATE_NAVIGATE_URL,
    FEATURE_RESTRICT_FILEDOWNLOAD,
    FEATURE_ADDON_MANAGEMENT,
    FEATURE_PROTOCOL_LOCKDOWN,
    FEATURE_HTTP_USERNAME_PASSWORD_DISABLE,
    FEATURE_SAFE_BINDTOOBJECT,
    FEATURE_PROTOCOL_LOCKDOWN,
    FEATURE_UNC_SAVEDFILECHECK,
    FEATURE_GET_URL_DOM_FILEPATH_UNENCODED,
};

}  // namespace

std::span<const INTERNETFEATURELIST> SecurityFeatures()
{
    return kFeatures;
}

void EnableSecurityFeatures(SetFeatureFunction pfnSetFeature)
{
    for (INTERNETFEATURELIST feature : kFeatures) {
        const HRESULT hr = pfnSetFeature(feature, SET_FEATURE_ON_PROCESS, TRUE);
        if (FAILED(hr)) {
            LOG_ERROR(static_cast<DWORD>(hr), L"EnableSecurityFeatures: feature %d not switched on",
                      static_cast<int>(feature));
        }
    }
}

bool EnableSecurityFeatures()
{
    // From the system folder only: never a URLMON.DLL planted beside us.
    wchar_t szSystem[MAX_PATH] = {};
    const UINT nLength = GetSystemDirectoryW(szSystem, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) {
        LOG_ERROR(GetLastError(), L"EnableSecurityFeatures: no system folder");
        return false;
    }
    const CString strPath = CString(szSystem) + L"\\URLMON.DLL";
    CLibrary library(LoadLibraryW(strPath));
    if (!library) {
        LOG_ERROR(GetLastError(), L"EnableSecurityFeatures: cannot load %s", strPath.GetString());
        return false;
    }
    auto pfnSetFeature =
        reinterpret_cast<SetFeatureFunction>(GetProcAddress(library.get(), "CoInternetSetFeatureEnabled"));
    if (pfnSetFeature == nullptr) {
        LOG_ERROR(GetLastError(), L"EnableSecurityFeatures: CoInternetSetFeatureEnabled is missing");
        return false;
    }
    EnableSecurityFeatures(pfnSetFeature);
    return true;
}
