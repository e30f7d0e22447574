#pragma once

// The product's web site, home of its search, help and error pages and of
// the upgrade download, and the search provider it sends queries to.
// Everything that names the site or the provider takes it from here.
inline constexpr wchar_t kProductWebSiteHost[] = L"www.nulvane.com";
inline constexpr wchar_t kProductWebSite[] = L"http://www.nulvane.com";

// The page shown for an address whose host cannot be found; the failed
// address follows, as a query value.
inline constexpr wchar_t kDnsErrorPath[] = L"/dnserror?req=";

// The search provider's query hosts: one for the United Kingdom, one for
// everyone else. Both are under the product's own domain.
inline constexpr wchar_t kSearchHostUnitedKingdom[] = L"http://uk.search.nulvane.com";
inline constexpr wchar_t kSearchHostInternational[] = L"http://search.nulvane.com";
// What the provider knows this product's queries by.
inline constexpr wchar_t kSearchSiteId[] = L"20480001";

// The captions' taglines, after the product name and " - ".
inline constexpr wchar_t kTaglineBritish[] = L"Browse privately, leave nothing behind";
inline constexpr wchar_t kTaglineAmerican[] = L"Browse privately, leave no trace";

// The upgrade program: its name is what the cache cleaner looks for in file
// names, and its download sits at the site's root.
inline constexpr wchar_t kUpgradeProgramName[] = L"NulvaneUpgrade";
inline constexpr wchar_t kUpgradeDownloadPath[] = L"/NulvaneUpgrade.exe";
