#pragma once

#include <set>
#include <string>
#include <vector>

// The trace audit's lines as a before/after comparison of the user's stores
// sees them.
using CAuditLines = std::vector<std::string>;

// What must be the same after a session as before it. Left out: the file
// names the cookie jar picks when a cookie is written again, and the index
// records that the stores free and reuse on their own.
std::multiset<std::string> StableView(const CAuditLines& lines);

struct CTraceDiff {
    // In the stores before, gone after.
    std::vector<std::string> lost;
    // Not in the stores before, there after.
    std::vector<std::string> left;
};
CTraceDiff CompareTraces(const CAuditLines& before, const CAuditLines& after);
