#pragma once

#include <set>
#include <string>
#include <vector>

// Two or three listings of the trace audit, taken before a session, while
// it ran and after it, compared on what must survive a session unchanged.
// Left out of the comparison: the file names the cookie jar picks when a
// cookie is written again, and the index records the stores free and reuse
// on their own.
struct CTraceSummary {
    size_t nBefore = 0;
    // Seen while the session ran and not before it, and the reverse (the
    // cookies the session starts without, files it overwrote); 0 without
    // that listing.
    size_t nAdded = 0;
    size_t nHidden = 0;
    size_t nKept = 0;
    std::vector<std::string> lost;  // before, not after
    std::vector<std::string> left;  // after, not before
};

class CTraceComparison {
public:
    static std::multiset<std::string> StableView(const std::vector<std::string>& lines);
    static CTraceSummary Compare(const std::vector<std::string>& before, const std::vector<std::string>& during,
                                 const std::vector<std::string>& after);
};
