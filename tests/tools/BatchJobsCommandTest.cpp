// Several files at once through the built command: lanes, background and report write, print and
// fail exactly as one file at a time does, in the same order.
#include "KestroRun.h"

#include <regex>
#include <set>

using namespace kestrorun;

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

} // namespace

using Threads = ToolTest;

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
        const auto into = [&](const std::string& out, const std::string& jobs) {
            scratch((dir.filename() / out).string()); // emptied; report writes into a folder that is there
            return run(std::regex_replace(command, std::regex("OUT"), out) + " --jobs " + jobs, dir);
        };
        const Result a = into("one", "1"), b = into("many", "3");
        EXPECT_EQ(a.exit, 1) << command << "\n" << a.err;
        EXPECT_EQ(b.exit, a.exit) << command;
        EXPECT_EQ(std::regex_replace(b.out, std::regex("many/"), "one/"), a.out) << command;
        EXPECT_EQ(b.err, a.err) << command;
        ASSERT_EQ(namesIn(dir / "many"), namesIn(dir / "one")) << command;
        for (const std::string& name : namesIn(dir / "one"))
            EXPECT_EQ(withoutRunRecords(dir / "many" / name), withoutRunRecords(dir / "one" / name))
                << command << ": " << name;
    }
}
