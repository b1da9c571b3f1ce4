// kestro lanes: the gel analysis over a batch, into a band table, a lane table, and per file a
// JSON report and an annotated picture.
#include "Commands.h"
#include "GelRun.h"

#include <atomic>
#include <filesystem>
#include <iostream>
#include <memory>

namespace kestro {

namespace {

namespace fs = std::filesystem;

struct LanesArgs {
    GelArgs gel;
    std::string out = ".";
    bool writeEdits = false;
};

int runLanes(const LanesArgs& a, bool json) {
    a.gel.check();
    const std::vector<std::string> files = analysisInputs(a.gel.files);
    const fs::path out(a.out);
    const std::string bandsPath = (out / "bands.csv").string(), lanesPath = (out / "lanes.csv").string();
    std::vector<PlannedOutput> outputs = {{bandsPath, "the band table"}, {lanesPath, "the lane table"}};
    const auto outputOf = [&](const std::string& file, const char* suffix) {
        return (out / (fs::path(file).stem().string() + suffix)).string();
    };
    for (const std::string& file : files)
        for (const char* suffix : {".lanes.json", ".lanes.png", ".edits.json"})
            if (a.writeEdits || std::string(suffix) != ".edits.json")
                outputs.push_back({outputOf(file, suffix), file});
    refuseExistingOutputs(files, outputs);
    std::error_code ec;
    fs::create_directories(out, ec);
    if (!fs::is_directory(out, ec)) throw ToolError(a.out + ": cannot create the output folder");

    const nlohmann::ordered_json parameters = a.gel.parameters();
    // Each file's rows wait in its own slot, so that files worked at once join the tables in order.
    std::vector<std::string> bandRows(files.size()), laneRows(files.size());
    std::atomic<size_t> done{0};
    const auto work = [&](const std::string& file, size_t index) {
        const GelRun r = runGel(file, a.gel);
        const nlohmann::ordered_json report = gelReport(r, a.gel, runRecord(parameters, {file}));
        // A failed file writes nothing: its outputs are written only once all of them are made.
        const std::string jsonPath = outputOf(file, ".lanes.json"), pngPath = outputOf(file, ".lanes.png");
        drawAnnotation(r, pngPath);
        writeTextFileAtomically(jsonPath, formatJson(report));
        if (a.writeEdits)
            writeTextFileAtomically(outputOf(file, ".edits.json"), editsText(editsOf(r.analysis)));
        bandRows[index] = bandTableRows(r, a.gel);
        laneRows[index] = laneTableRows(r);
        ++done;
        return nlohmann::ordered_json{{"file", file},
                                      {"tiers", report["tierCount"]},
                                      {"lanes", report["laneCount"]},
                                      {"bands", report["bandCount"]},
                                      {"saturatedBands", report["saturatedBands"]},
                                      {"diffuseBands", report["diffuseBands"]},
                                      {"polarity", report["polarity"]},
                                      {"json", jsonPath},
                                      {"png", pngPath},
                                      {"warnings", report["warnings"]},
                                      {"milliseconds", r.milliseconds}};
    };
    const auto print = [&](const nlohmann::ordered_json& j, size_t) {
        std::cout << j["file"].get<std::string>() << ": " << j["lanes"] << " lanes, " << j["bands"]
                  << " bands (" << j["saturatedBands"] << " saturated, " << j["diffuseBands"] << " diffuse), "
                  << j["polarity"].get<std::string>() << "; wrote " << j["json"].get<std::string>() << ", "
                  << j["png"].get<std::string>() << '\n';
        for (const auto& w : j["warnings"])
            std::cout << "  note: " << w["text"].get<std::string>() << '\n';
    };
    const int code = forEachFileAtOnce(files, "lanes", json, work, print);
    if (done == 0) return code;
    std::string bands = bandTableHeader(a.gel), lanes = laneTableHeader();
    for (size_t i = 0; i < files.size(); ++i) {
        bands += bandRows[i];
        lanes += laneRows[i];
    }
    writeTextFileAtomically(bandsPath, bands);
    writeTextFileAtomically(lanesPath, lanes);
    if (!json) std::cout << "wrote " << bandsPath << ", " << lanesPath << '\n';
    return code;
}

} // namespace

Command addLanesCommand(CLI::App& root, const bool& json) {
    auto a = std::make_shared<LanesArgs>();
    CLI::App* app = root.add_subcommand(
        "lanes",
        "Find lanes and bands, measure band volumes, sizes and amounts; write bands.csv, lanes.csv and "
        "per gel a JSON report and an annotated PNG");
    app->footer("Example:\n  kestro lanes gel.tif -o out --ladder 1 --sizes 10000,5000,3000,2000,1000,500\n"
                "  kestro lanes blot.tif -o out --normalise 300-340 --reference-lane 1\n\n"
                "The relative volume of a band is its corrected volume divided by the sum of its lane's.\n"
                "In the annotated PNG: lanes yellow with their numbers, bands green (diffuse bands orange),\n"
                "each band's peak row cyan, saturated pixels red.");
    app->add_option("FILE", a->gel.files, "Gel images (grey or colour), or folders of them")->required();
    app->add_option("-o,--output", a->out, "Folder for the tables, reports and pictures")
        ->capture_default_str();
    app->add_flag(
        "--write-edits", a->writeEdits,
        "Also write NAME.edits.json: the lanes and bands found, to correct and replay with --edits");
    addGelOptions(*app, a->gel);
    addJobsOption(*app);
    return {app, [a, &json] { return runLanes(*a, json); }};
}

} // namespace kestro
