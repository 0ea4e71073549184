// A small dump line for whole-run tests.
#pragma once

#include <string>
#include <vector>

namespace fennick::test {

// A 40-field dump line routed to out.txt by its routing mark, lasting 3661
// seconds from `start`; the client is "client<id>" unless one is given.
inline std::string job(int id, const std::string& policy, long long start,
                       const std::string& status, const std::string& client = "") {
    std::vector<std::string> fields(40, "x");
    fields[0] = std::to_string(id);
    fields[3] = status;
    fields[4] = policy;
    fields[5] = "daily";
    fields[6] = client.empty() ? "client" + std::to_string(id) : client;
    fields[8] = std::to_string(start);
    fields[9] = "3661";
    fields[10] = std::to_string(start + 3661);
    fields[14] = "1024";
    fields[15] = "12";
    fields[22] = "0";
    fields[27] = "3";
    fields[39 - 19] = "1";
    fields[39 - 20] = "5000";
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i)
        line += (i ? "," : "") + fields[i];
    return line + "\r\n";
}

}  // namespace fennick::test
