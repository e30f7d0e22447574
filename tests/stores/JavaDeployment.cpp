#include "tests/stores/JavaDeployment.h"

#include <shlobj.h>


CString CDeploymentProperties::Path()
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
    return CString(path) + L"\\Sun\\Java\\Deployment\\deployment.properties";
}

std::string AsPropertyValue(const CString& path)
{
    std::string value;
    for (char ch : path.ToAnsi()) {
        value += ch == '\\' ? "\\\\" : ch == ':' ? "\\:" : std::string(1, ch);
    }
    return value;
}
