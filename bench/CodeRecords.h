// The [Code] records of an update file, as the baselines send them.
#pragma once

#include <fstream>
#include <string>
#include <vector>

inline std::vector<std::string> CodeRecords(const char* path) {
    std::ifstream in(path);
    std::vector<std::string> records;
    bool inCode = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "END")
            break;
        if (inCode)
            records.push_back(line);
        inCode = inCode || line == "[Code]";
    }
    return records;
}
