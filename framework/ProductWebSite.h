#pragma once

// The product's web site, home of its search, help and error pages and of
// the upgrade download. Everything that names the site takes it from here.
inline constexpr wchar_t kProductWebSiteHost[] = L"www.nulvane.com";

// The upgrade program: its name is what the cache cleaner looks for in file
// names, and its download sits at the site's root.
inline constexpr wchar_t kUpgradeProgramName[] = L"NulvaneUpgrade";
inline constexpr wchar_t kUpgradeDownloadPath[] = L"/NulvaneUpgrade.exe";
