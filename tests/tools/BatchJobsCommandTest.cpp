// Several files at once through the built command: lanes, background and report write, print and
// fail exactly as one file at a time does, in the same order.
#include "KestroRun.h"
#include "synth/SyntheticGel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

using namespace kestrorun;
namespace fs = std::filesystem;

namespace {

// What may differ between two runs: the command line and the clock, kept in the run records.
std::string withoutRunRecords(const fs::path& file) {
    const std::string text = readFile(file);
    if (file.extension() == ".json") {
        nlohmann::ordered_json j = nlohmann::ordered_json::parse(text);
        j.erase("run");
        j.erase("milliseconds");
        return j.dump();
    }
    if (file.extension() == ".html")
        return std::regex_replace(text, std::regex("<h3>Run record</h3><pre>[^<]*</pre>"), "<pre></pre>");
    return text;
}

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

class Threads : public ToolTest {};

} // namespace

TEST_F(Threads, FilesWorkedAtOnceGiveWhatOneAtATimeGives) {
    fs::create_directories(dir / "in");
    for (int k = 0; k < 5; ++k) {
        kestro::GelOptions o = kestro::gelOptions(161 + 16 * k, 121 + 8 * k, 3 + k % 3, 2 + k % 2, 7 + k);
        kestro::SyntheticGel::generate(o).save((dir / "in" / ("gel" + std::to_string(k) + ".tif")).string());
    }
    // A file named that is no image fails in the middle of the batch; the others still run.
    std::ofstream(dir / "in" / "gel2b.tif") << "not an image";

    const std::string files = "in/gel0.tif in/gel1.tif in/gel2b.tif in/gel2.tif in/gel3.tif in/gel4.tif";
    const std::string commands[] = {"lanes " + files + " -o OUT",
                                    "background " + files + " -o OUT --half 6 2",
                                    "report " + files + " -o OUT/r.html"};
    for (const std::string& command : commands) {
        std::string one = command, many = command;
        one.replace(one.find("OUT"), 3, "one");
        many.replace(many.find("OUT"), 3, "many");
        fs::create_directories(dir / "one"); // report writes into a folder that is there
        fs::create_directories(dir / "many");
        const Result a = run(one + " --jobs 1", dir), b = run(many + " --jobs 3", dir);
        EXPECT_EQ(a.exit, 1) << command << "\n" << a.err;
        EXPECT_EQ(b.exit, a.exit) << command;
        EXPECT_EQ(std::regex_replace(b.out, std::regex("many/"), "one/"), a.out) << command;
        EXPECT_EQ(b.err, a.err) << command;
        ASSERT_EQ(namesIn(dir / "many"), namesIn(dir / "one")) << command;
        for (const std::string& name : namesIn(dir / "one"))
            EXPECT_EQ(withoutRunRecords(dir / "many" / name), withoutRunRecords(dir / "one" / name))
                << command << ": " << name;
        fs::remove_all(dir / "one");
        fs::remove_all(dir / "many");
    }
}
