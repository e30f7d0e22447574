#pragma once

#include <windows.h>

#include <string>

// The process's user agent, the one the rendering control sends, with the
// product's name added inside its final parenthesis:
// "... Trident/7.0)" becomes "... Trident/7.0Nulvane)".
class CUserAgent {
public:
    static constexpr const char* kProductToken = "Nulvane";

    // The agent with the token, or FALSE when it has fewer than two
    // characters or does not end with ")".
    [[nodiscard]] static BOOL AddProductToken(const std::string& strAgent, std::string& strWithToken);

    // The process's agent through the URL moniker session options; FALSE
    // when it cannot be read.
    [[nodiscard]] static BOOL Read(std::string& strAgent);
    [[nodiscard]] static BOOL Write(const std::string& strAgent);
};
