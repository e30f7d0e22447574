#include "tests/app/TraceView.h"

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

}  // namespace

std::multiset<std::string> StableView(const CAuditLines& lines)
{
    std::multiset<std::string> view;
    for (const std::string& line : lines) {
        const std::string section = Field(line, 0);
        if (section == "cookiefile") {
            view.insert("cookiefile\t" + line.substr(line.find('\t', 11) + 1));
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
        } else {
            view.insert(line);
        }
    }
    return view;
}

CTraceDiff CompareTraces(const CAuditLines& before, const CAuditLines& after)
{
    const std::multiset<std::string> wanted = StableView(before), got = StableView(after);
    CTraceDiff diff;
    std::set_difference(wanted.begin(), wanted.end(), got.begin(), got.end(), std::back_inserter(diff.lost));
    std::set_difference(got.begin(), got.end(), wanted.begin(), wanted.end(), std::back_inserter(diff.left));
    return diff;
}
