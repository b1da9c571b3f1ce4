// The rows of a data table under tests/: its lines without blank lines and '#' comments.
#pragma once

#include <fstream>
#include <string>
#include <vector>

inline std::vector<std::string> TableRows(const std::string& pathUnderTests) {
    std::ifstream in(std::string(KESTRO_TEST_SOURCE_DIR) + "/" + pathUnderTests);
    std::vector<std::string> rows;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') rows.push_back(line);
    return rows;
}
