#pragma once

#include <string>

#include "framework/String.h"
#include "tests/support/TestFiles.h"

// The Java plug-in's real "deployment.properties" in the test prefix,
// written for the life of the object and removed afterwards.
class CDeploymentProperties {
public:
    explicit CDeploymentProperties(const std::string& text) { WriteTestFile(Path(), text); }
    ~CDeploymentProperties() { DeleteFileW(Path()); }
    CDeploymentProperties(const CDeploymentProperties&) = delete;
    CDeploymentProperties& operator=(const CDeploymentProperties&) = delete;

    static CString Path();
};

// A Windows path written the way the Java control panel writes it into
// the file: the colon escaped, every backslash doubled.
std::string AsPropertyValue(const CString& path);
