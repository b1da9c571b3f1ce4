// Running the built kestro command from a test: its exit code, stdout and stderr; the tests'
// fixture with a scratch folder of its own; the tables and real scans the tests read.
#pragma once

// What the tests of this folder share: the tables, synthetic gels, images and JSON they use.
#include "TestTables.h"
#include "raster/RasterTestSupport.h"
#include "synth/SyntheticGel.h"

#include <KestroImage.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace kestrorun {

namespace fs = std::filesystem;
using nlohmann::json;

#ifdef KESTRO_TOOL_PATH
inline const std::string kTool = KESTRO_TOOL_PATH;
#else
inline const std::string kTool; // the command was not built
#endif

struct Result {
    int exit = -1; // -1 when the program did not exit normally (a crash)
    std::string out, err;
};

inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline nlohmann::json readJson(const std::filesystem::path& path) {
    return nlohmann::json::parse(readFile(path));
}

/// Whether text holds part; the message shows the text either way.
inline ::testing::AssertionResult has(const std::string& text, const std::string& part) {
    ::testing::AssertionResult r(text.find(part) != std::string::npos);
    return r << '"' << part << "\" in:\n" << text;
}

/// An image saved to or loaded from a path (a DalvoImage or a fipImage); false when it could not.
template <class Image> bool save(const Image& image, const std::filesystem::path& path) {
    return image.save(CString::FromUtf8(path.string()));
}
template <class Image> bool load(Image& image, const std::filesystem::path& path) {
    return image.loadU(CString::FromUtf8(path.string()));
}
/// A grey image of f(x, y) written to path: 16-bit for WORD samples, 8-bit for BYTE.
template <class Sample, class F> bool writeGrey(const std::filesystem::path& path, int w, int h, F f) {
    return save(*std::unique_ptr<DalvoImage>(rastertest::grayImage<Sample>(w, h, f)), path);
}

/// CSV text as rows of named cells (no quoted commas in the tests' tables).
using Table = std::vector<std::map<std::string, std::string>>;
inline Table parseCsv(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> names;
    Table t;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::stringstream ss(line);
        for (std::string c; std::getline(ss, c, ',');)
            cells.push_back(c);
        if (line.back() == ',') cells.push_back("");
        if (names.empty()) {
            names = cells;
            continue;
        }
        EXPECT_EQ(cells.size(), names.size()) << line;
        auto& row = t.emplace_back();
        for (size_t k = 0; k < names.size() && k < cells.size(); ++k)
            row[names[k]] = cells[k];
    }
    return t;
}
inline Table readCsv(const std::filesystem::path& path) {
    return parseCsv(readFile(path));
}

inline double num(const std::map<std::string, std::string>& row, const std::string& column) {
    return std::stod(row.at(column));
}

/// A real scan of the shared folder; the tests that use one skip where it is absent.
inline std::filesystem::path realGel(const std::string& name) {
    return std::filesystem::path(KESTRO_SHARED_DIR) / "gels" / name;
}

// Runs kestro in dir with stdout and stderr in files, so neither is a terminal; or, with terminal
// set, inside script(1), which gives it a pseudo-terminal as an interactive shell would.
inline Result run(const std::string& args, const std::filesystem::path& dir, bool terminal = false) {
    std::string cmd = quote(kTool) + " " + args;
    if (terminal) cmd = "script -qec " + quote(cmd) + " /dev/null";
    cmd = "cd " + quote(dir.string()) + " && " + cmd + " >" + quote((dir / "stdout.txt").string()) + " 2>" +
          quote((dir / "stderr.txt").string()) + " </dev/null";
    const int status = std::system(cmd.c_str());
    return {status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir / "stdout.txt"),
            readFile(dir / "stderr.txt")};
}

// A fresh scratch folder under the tests' temporary folder.
inline std::filesystem::path scratch(const std::string& name) {
    const std::filesystem::path dir = std::filesystem::path(KESTRO_TEST_TMP) / "kestro" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

/// A test of the built command in a fresh scratch folder named after it; skipped when the command
/// was not built.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (kTool.empty() || !std::filesystem::exists(kTool))
            GTEST_SKIP() << "the kestro command is not built";
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = scratch(std::string(test->test_suite_name()) + "." + test->name());
    }
    /// Runs kestro in the folder, expecting success.
    Result ok(const std::string& args) {
        const Result r = run(args, dir);
        EXPECT_EQ(r.exit, 0) << args << "\n" << r.err;
        return r;
    }
    /// Runs kestro in the folder, expecting a failure of the work whose message names `mention`.
    Result fails(const std::string& args, const std::string& mention) {
        const Result r = run(args, dir);
        EXPECT_EQ(r.exit, 1) << args;
        EXPECT_NE(r.err.find(mention), std::string::npos) << args << "\n" << r.err;
        return r;
    }
    /// A synthetic gel made by `kestro synth` in the folder; its path.
    std::string synth(const std::string& name, const std::string& options) {
        const std::string path = (dir / name).string();
        ok("synth " + quote(path) + " " + options);
        return path;
    }
    std::filesystem::path dir;
};

} // namespace kestrorun
