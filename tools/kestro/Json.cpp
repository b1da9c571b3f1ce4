// The JSON the commands print: numbers in arrays kept on one line so that tables stay readable.
#include "Support.h"

#include <iostream>
#include <sstream>

namespace kestro {

namespace {

bool isNumbers(const nlohmann::ordered_json& j) {
    if (!j.is_array()) return false;
    for (const auto& e : j)
        if (!e.is_number()) return false;
    return true;
}

// Arrays of numbers, and arrays of such arrays (points, rectangles), stay on one line; the rest
// is indented as usual. Invalid UTF-8 in odd file names is replaced rather than thrown about.
void writeJson(std::ostream& os, const nlohmann::ordered_json& j, int indent) {
    const auto scalar = [](const nlohmann::ordered_json& v) {
        return v.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    };
    const std::string pad(static_cast<size_t>(indent) + 2, ' ');
    if (j.is_object() && !j.empty()) {
        os << "{\n";
        size_t i = 0;
        for (auto it = j.begin(); it != j.end(); ++it, ++i) {
            os << pad << scalar(nlohmann::ordered_json(it.key())) << ": ";
            writeJson(os, it.value(), indent + 2);
            os << (i + 1 < j.size() ? ",\n" : "\n");
        }
        os << std::string(static_cast<size_t>(indent), ' ') << "}";
        return;
    }
    if (j.is_array() && !j.empty()) {
        bool flat = true;
        for (const auto& e : j)
            flat = flat && (e.is_number() || isNumbers(e));
        if (flat) {
            os << "[";
            for (size_t i = 0; i < j.size(); ++i) {
                os << (i ? ", " : "");
                writeJson(os, j[i], indent);
            }
            os << "]";
            return;
        }
        os << "[\n";
        for (size_t i = 0; i < j.size(); ++i) {
            os << pad;
            writeJson(os, j[i], indent + 2);
            os << (i + 1 < j.size() ? ",\n" : "\n");
        }
        os << std::string(static_cast<size_t>(indent), ' ') << "]";
        return;
    }
    os << scalar(j);
}

} // namespace

std::string formatJson(const nlohmann::ordered_json& j) {
    std::ostringstream os;
    writeJson(os, j, 0);
    os << '\n';
    return os.str();
}

void printJson(const nlohmann::ordered_json& j) {
    std::cout << formatJson(j);
}

} // namespace kestro
