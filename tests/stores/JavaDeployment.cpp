#include "tests/stores/JavaDeployment.h"

#include <shlobj.h>

#include "tests/support/TestFiles.h"

CDeploymentProperties::CDeploymentProperties(const std::string& text)
{
    WriteTestFile(Path(), text);
}

CDeploymentProperties::~CDeploymentProperties()
{
    DeleteFileW(Path());
}

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
