#include "tools/trace-audit/TraceComparison.h"

#include <algorithm>
#include <iterator>

namespace {

std::string Field(const std::string& line, int index)
{
    size_t start = 0;
    for (int i = 0; i < index && start != std::string::npos; ++i) {
        start = line.find('\t', start);
        start = start == std::string::npos ? start : start + 1;
    }
    if (start == std::string::npos) {
        return std::string();
    }
    const size_t end = line.find('\t', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::vector<std::string> Difference(const std::multiset<std::string>& a, const std::multiset<std::string>& b)
{
    std::vector<std::string> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

}  // namespace

std::multiset<std::string> CTraceComparison::StableView(const std::vector<std::string>& lines)
{
    std::multiset<std::string> view;
    for (const std::string& line : lines) {
        const std::string section = Field(line, 0);
        if (section == "cookiefile") {
            // The file a cookie lives in is the jar's choice.
            const size_t afterFile = line.find('\t', section.size() + 1);
            view.insert("cookiefile\t" + (afterFile == std::string::npos ? std::string() : line.substr(afterFile + 1)));
        } else if (section == "urlcache" && Field(line, 1) == "cookie") {
            view.insert("urlcache\tcookie\t" + Field(line, 2));
        } else if (section == "indexdat") {
            const std::string kind = Field(line, 2);
            if (Field(line, 1).rfind("cookies:", 0) == 0) {
                if (kind == "URL") {
                    view.insert("indexdat\tcookies\t" + Field(line, 3));
                }
            } else if (kind == "URL" || kind == "LEAK") {
                view.insert(line);
            }
        } else if (!line.empty()) {
            view.insert(line);
        }
    }
    return view;
}

CTraceSummary CTraceComparison::Compare(const std::vector<std::string>& before, const std::vector<std::string>& during,
                                        const std::vector<std::string>& after)
{
    const std::multiset<std::string> b = StableView(before), d = StableView(during), a = StableView(after);
    CTraceSummary summary;
    summary.nBefore = b.size();
    summary.nAdded = during.empty() ? 0 : Difference(d, b).size();
    summary.nHidden = during.empty() ? 0 : Difference(b, d).size();
    summary.lost = Difference(b, a);
    summary.left = Difference(a, b);
    summary.nKept = b.size() - summary.lost.size();
    return summary;
}
