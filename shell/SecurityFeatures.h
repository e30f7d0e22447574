#pragma once

#include <windows.h>
#include <urlmon.h>

#include <span>

// The rendering engine's security features that every window thread
// switches on for the process, in the order they are switched on.
std::span<const INTERNETFEATURELIST> SecurityFeatures();

using SetFeatureFunction = HRESULT(WINAPI*)(INTERNETFEATURELIST, DWORD, BOOL);

// Switches each feature on for the process through pfnSetFeature.
void EnableSecurityFeatures(SetFeatureFunction pfnSetFeature);
// The same through CoInternetSetFeatureEnabled of the system's URLMON.DLL;
// false (with a log line) when the library or the function is missing.
bool EnableSecurityFeatures();
