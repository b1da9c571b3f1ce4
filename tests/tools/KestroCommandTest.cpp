// The kestro command, run as a program: exit codes, reports, errors and progress.
#include "synth/SyntheticGel.h"

#include <KestroImage.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestro;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Where the build put the command; empty when it was not built.
const std::string kTool =
#ifdef KESTRO_TOOL_PATH
    KESTRO_TOOL_PATH;
#else
    "";
#endif

struct Result {
    int exit = -1;     // exit code; -1 when the program did not exit normally (a crash)
    std::string out;
    std::string err;
};

std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path scratchDir(const std::string& name)
{
    const fs::path dir = fs::path(KESTRO_TEST_TMP) / "kestro" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Runs kestro with stdout and stderr going to files, so neither is a terminal.
Result runKestro(const std::string& args, const fs::path& dir)
{
    const std::string out = (dir / "stdout.txt").string(), err = (dir / "stderr.txt").string();
    const std::string cmd = quote(kTool) + " " + args + " >" + quote(out) + " 2>" + quote(err) + " </dev/null";
    const int status = std::system(cmd.c_str());
    Result r;
    r.exit = (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    r.out = readFile(out);
    r.err = readFile(err);
    return r;
}

// Runs kestro with stdout and stderr on a pseudo-terminal, as in an interactive shell.
std::string kestroOnTerminal(const std::vector<std::string>& args)
{
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return "(no pseudo-terminal)";
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(slave, STDIN_FILENO);
        dup2(slave, STDOUT_FILENO);
        dup2(slave, STDERR_FILENO);
        close(master);
        close(slave);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(kTool.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(kTool.c_str(), argv.data());
        _exit(127);
    }
    close(slave);
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0)
            break; // EIO once the child has closed its side
        text.append(buf, static_cast<size_t>(n));
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    return text;
}

// One line on stderr that says what went wrong, a normal non-zero exit, nothing that looks like a crash.
void expectCleanError(const Result& r, int code, const std::string& mention)
{
    EXPECT_EQ(r.exit, code) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("kestro: error: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(mention), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("terminate"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
}

std::string synthFile(const fs::path& dir, const std::string& name, const std::string& options)
{
    const std::string path = (dir / name).string();
    const Result r = runKestro("synth " + quote(path) + " " + options, dir);
    EXPECT_EQ(r.exit, 0) << r.err;
    return path;
}

class Kestro : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (kTool.empty() || !fs::exists(kTool))
            GTEST_SKIP() << "the kestro command is not built";
        dir = scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    fs::path dir;
};

} // namespace

TEST_F(Kestro, HelpOnEverySubcommand)
{
    for (const std::string sub : {"", "synth", "info", "background", "spot", "demo", "lanes"}) {
        const Result r = runKestro(sub + " --help", dir);
        EXPECT_EQ(r.exit, 0) << sub;
        EXPECT_NE(r.out.find("Usage"), std::string::npos) << sub;
        EXPECT_NE(r.out.find("kestro " + sub), std::string::npos) << sub;
        EXPECT_TRUE(r.err.empty()) << sub << ": " << r.err;
    }
    const Result all = runKestro("--help", dir);
    for (const char* sub : {"synth", "info", "background", "spot", "demo"})
        EXPECT_NE(all.out.find(sub), std::string::npos) << sub;
}

TEST_F(Kestro, SynthWritesTheGelAndItsTruth)
{
    const std::string path = (dir / "gel.tif").string();
    const Result r = runKestro("synth " + quote(path) + " --lanes 4 --bands 3 --width 200 --height 160 --seed 7 --json", dir);
    ASSERT_EQ(r.exit, 0) << r.err;
    const json report = json::parse(r.out);
    EXPECT_EQ(report["bands"], 12);
    EXPECT_EQ(report["truth"], (dir / "gel.truth.json").string());

    // The file holds what the generator makes in-process from the same options.
    const SyntheticGel gel = SyntheticGel::generate(gelOptions(200, 160, 4, 3, 7));
    const auto truth = nlohmann::ordered_json::parse(readFile((dir / "gel.truth.json").string()));
    EXPECT_EQ(truth, gel.truthJson());
    const std::string again = (dir / "again.tif").string();
    ASSERT_EQ(runKestro("synth " + quote(again) + " --lanes 4 --bands 3 --width 200 --height 160 --seed 7", dir).exit, 0);
    EXPECT_EQ(readFile(path), readFile(again));

    const Result text = runKestro("synth " + quote((dir / "c.png").string()) + " --depth rgb", dir);
    EXPECT_EQ(text.exit, 0);
    EXPECT_NE(text.out.find("24-bit colour"), std::string::npos) << text.out;
}

TEST_F(Kestro, InfoReportsTypeDepthRasterAndStatistics)
{
    const std::string g16 = synthFile(dir, "g16.tif", "--width 120 --height 90 --lanes 3 --bands 2 --seed 2");
    const std::string g8 = synthFile(dir, "g8.png", "--width 120 --height 90 --lanes 3 --bands 2 --depth 8 --seed 2");
    const std::string rgb = synthFile(dir, "rgb.tif", "--width 120 --height 90 --lanes 3 --bands 2 --depth rgb --seed 2");
    const Result r = runKestro("info --json " + quote(g16) + " " + quote(g8) + " " + quote(rgb), dir);
    ASSERT_EQ(r.exit, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j.size(), 3u);

    const SyntheticGel gel = SyntheticGel::generate(gelOptions(120, 90, 3, 2, 2));
    const auto& v = gel.values();
    double sum = 0;
    for (auto x : v)
        sum += x;
    EXPECT_EQ(j[0]["file"], g16);
    EXPECT_EQ(j[0]["fileType"], 18); // FIF_TIFF
    EXPECT_EQ(j[0]["imageType"], "FIT_UINT16");
    EXPECT_EQ(j[0]["bpp"], 16);
    EXPECT_EQ(j[0]["raster"], "GS16");
    EXPECT_EQ(j[0]["min"], *std::min_element(v.begin(), v.end()));
    EXPECT_EQ(j[0]["max"], *std::max_element(v.begin(), v.end()));
    EXPECT_NEAR(j[0]["mean"].get<double>(), sum / v.size(), 1e-6);
    ASSERT_GE(j[0]["info"].size(), 3u);
    EXPECT_EQ(j[0]["info"][0], "Width (pixels)|120");
    EXPECT_EQ(j[0]["info"][1], "Height (pixels)|90");
    EXPECT_EQ(j[0]["info"][2], "Bits Per Pixel|16");

    EXPECT_EQ(j[1]["fileType"], 13); // FIF_PNG
    EXPECT_EQ(j[1]["imageType"], "FIT_BITMAP");
    EXPECT_EQ(j[1]["bpp"], 8);
    EXPECT_EQ(j[1]["raster"], "GS16");
    EXPECT_EQ(j[1]["max"], 255); // the saturated band

    EXPECT_EQ(j[2]["bpp"], 24);
    EXPECT_EQ(j[2]["raster"], "RGB");
    EXPECT_EQ(j[2]["width"], 120);

    const Result text = runKestro("info " + quote(g16), dir);
    EXPECT_EQ(text.exit, 0);
    EXPECT_NE(text.out.find("FIT_UINT16"), std::string::npos);
    EXPECT_NE(text.out.find("TIFF (18)"), std::string::npos);

    // An image the library reads but has no raster for is still described, without statistics.
    const std::string floats = (dir / "float.tif").string();
    DalvoImage image(FIT_FLOAT, 8, 6, 32);
    ASSERT_TRUE(image.save(CString::FromUtf8(floats)));
    const Result f = runKestro("info --json " + quote(floats), dir);
    EXPECT_EQ(f.exit, 0) << f.err;
    const json jf = json::parse(f.out);
    EXPECT_EQ(jf[0]["imageType"], "FIT_FLOAT");
    EXPECT_EQ(jf[0]["raster"], "none");
    EXPECT_TRUE(jf[0]["min"].is_null());
    expectCleanError(runKestro("background " + quote(floats) + " -o " + quote((dir / "b.tif").string()), dir), 1,
                     "grayscale");
}

TEST_F(Kestro, BackgroundKeepsTheDepthAndSubtractsIt)
{
    for (const std::string depth : {"16", "8"}) {
        const std::string gel = synthFile(dir, "gel" + depth + ".tif",
                                          "--width 160 --height 120 --lanes 3 --bands 3 --depth " + depth);
        const std::string bg = (dir / ("bg" + depth + ".tif")).string();
        const std::string sub = (dir / ("sub" + depth + ".tif")).string();
        const Result rb = runKestro("background " + quote(gel) + " -o " + quote(bg) + " --half 12 3 --json", dir);
        ASSERT_EQ(rb.exit, 0) << rb.err;
        const json jb = json::parse(rb.out);
        ASSERT_EQ(jb.size(), 1u);
        EXPECT_EQ(jb[0]["mode"], "background");
        ASSERT_EQ(runKestro("background " + quote(gel) + " -o " + quote(sub) + " --half 12 3 --subtract", dir).exit, 0);

        // image - background, floored at 0, is what --subtract writes.
        auto load = [](const std::string& path) {
            auto image = std::make_unique<DalvoImage>();
            CFile file(CString::FromUtf8(path), CFile::modeRead);
            image->CreateFromFile(&file);
            return image;
        };
        auto gi = load(gel), bi = load(bg), si = load(sub);
        ASSERT_TRUE(bi->isValid() && si->isValid());
        EXPECT_EQ(bi->getImageType(), gi->getImageType());
        EXPECT_EQ(bi->getBitsPerPixel(), gi->getBitsPerPixel());
        EXPECT_EQ(si->getBitsPerPixel(), gi->getBitsPerPixel());
        RasterImageGS16 g(gi.get()), b(bi.get()), s(si.get());
        ASSERT_EQ(b.width, 160);
        int mismatches = 0, belowImage = 0;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x) {
                mismatches += s.getPixel(x, y) != std::max(0, g.getPixel(x, y) - b.getPixel(x, y));
                belowImage += b.getPixel(x, y) <= g.getPixel(x, y);
            }
        EXPECT_EQ(mismatches, 0);
        // A moving minimum never rises above the pixel itself, except in the last row and column,
        // which no window reaches.
        EXPECT_GE(belowImage, 159 * 119);
    }
}

TEST_F(Kestro, SpotFindsTheBandAndItsOutline)
{
    const std::string gel = synthFile(dir, "gel.tif", "--no-noise --no-background --seed 9");
    GelOptions o;
    o.noise = false;
    o.background = false;
    o.seed = 9;
    const GelBand b = SyntheticGel::generate(o).truth().bands[7];
    const int l = static_cast<int>(b.x - b.width / 2 - 6), r = static_cast<int>(b.x + b.width / 2 + 7);
    const int t = static_cast<int>(b.y - 5 * b.sigmaY - 1), btm = static_cast<int>(b.y + 5 * b.sigmaY + 2);
    const std::string rect = " --rect " + std::to_string(l) + " " + std::to_string(t) + " " + std::to_string(r) + " " +
                             std::to_string(btm);

    const Result rays = runKestro("spot " + quote(gel) + rect + " --json", dir);
    ASSERT_EQ(rays.exit, 0) << rays.err;
    const json jr = json::parse(rays.out);
    EXPECT_LE(std::fabs(jr["centre"][0].get<int>() - b.x), 0.5);
    EXPECT_LE(std::fabs(jr["centre"][1].get<int>() - b.y), 0.5);
    ASSERT_EQ(jr["points"].size(), 360u);
    // Half way down a band without background: the outline sits near the band's half-height edges.
    const double halfHeightRows = b.sigmaY * std::sqrt(2 * std::log(2.0));
    const auto& down = jr["points"][90]; // 90 degrees points down
    EXPECT_NEAR(down[1].get<int>() - jr["centre"][1].get<int>(), halfHeightRows, 1.5);
    const auto& right = jr["points"][0];
    EXPECT_NEAR(right[0].get<int>() - jr["centre"][0].get<int>(), b.width / 2, 1.5);
    EXPECT_GT(jr["threshold"].get<int>(), 0);
    EXPECT_LT(jr["threshold"].get<int>(), b.peak);

    const Result rows = runKestro("spot " + quote(gel) + rect + " --method rows --fraction 0.3 --json", dir);
    ASSERT_EQ(rows.exit, 0) << rows.err;
    const json jw = json::parse(rows.out);
    const size_t n = jw["points"].size();
    EXPECT_EQ(n % 2, 0u);
    // leftX, the upper points, rightX, the lower points: 2 + 2 (rightX - leftX).
    EXPECT_EQ(static_cast<int>(n), 2 + 2 * (jw["points"][n / 2][0].get<int>() - jw["points"][0][0].get<int>()));

    const Result text = runKestro("spot " + quote(gel) + rect + " --centre " + std::to_string(int(b.x)) + " " +
                                   std::to_string(int(b.y)),
                               dir);
    EXPECT_EQ(text.exit, 0) << text.err;
    EXPECT_NE(text.out.find("360 points"), std::string::npos) << text.out;
}

TEST_F(Kestro, EveryFailureIsOneLineAndANonZeroExit)
{
    const std::string gel = synthFile(dir, "gel.tif", "--width 100 --height 80 --lanes 2 --bands 2");
    const std::string colour = synthFile(dir, "colour.tif", "--width 100 --height 80 --lanes 2 --bands 2 --depth rgb");
    const std::string junk = (dir / "junk.tif").string();
    std::ofstream(junk) << "this is not an image\n";
    const std::string missing = (dir / "missing.tif").string();

    expectCleanError(runKestro("synth " + quote((dir / "no/such/folder/g.tif").string()), dir), 1, "does not exist");
    expectCleanError(runKestro("synth " + quote((dir / "g.jpg").string()), dir), 1, ".tif");
    expectCleanError(runKestro("synth " + quote((dir / "g.tif").string()) + " --lanes 400", dir), 1, "lanes");
    expectCleanError(runKestro("synth " + quote((dir / "g.tif").string()) + " --depth 12", dir), 2, "--depth");
    expectCleanError(runKestro("info " + quote(missing), dir), 1, "no such file");
    expectCleanError(runKestro("info " + quote(junk), dir), 1, "not an image");
    expectCleanError(runKestro("info " + quote(dir.string()), dir), 1, "folder");
    expectCleanError(runKestro("background " + quote(missing) + " -o " + quote((dir / "b.tif").string()), dir), 1,
                     "no such file");
    expectCleanError(runKestro("background " + quote(colour) + " -o " + quote((dir / "b.tif").string()), dir), 1,
                     "grayscale");
    expectCleanError(runKestro("background " + quote(gel) + " -o " + quote((dir / "b.jpg").string()) + " --half 0 3", dir),
                     1, "--half");
    expectCleanError(runKestro("background " + quote(gel), dir), 2, "--output");
    expectCleanError(runKestro("spot " + quote(gel) + " --rect 50 10 20 30", dir), 1, "bad rectangle");
    expectCleanError(runKestro("spot " + quote(gel) + " --rect 10 10 200 30", dir), 1, "bad rectangle");
    expectCleanError(runKestro("spot " + quote(gel) + " --rect 10 10 20", dir), 2, "--rect");
    expectCleanError(runKestro("spot " + quote(gel) + " --rect 10 10 40 30 --centre 5 5", dir), 1, "outside");
    expectCleanError(runKestro("spot " + quote(junk) + " --rect 0 0 4 4", dir), 1, "not an image");
    expectCleanError(runKestro("spot " + quote(colour) + " --rect 0 0 40 40", dir), 1, "grayscale");
    expectCleanError(runKestro("demo --out " + quote(gel), dir), 1, "folder");
    expectCleanError(runKestro("", dir), 2, "subcommand");
    expectCleanError(runKestro("frobnicate", dir), 2, "frobnicate");

    // One bad file among good ones: the good ones are still reported, the exit says something failed.
    const Result mixed = runKestro("info --json " + quote(gel) + " " + quote(missing), dir);
    EXPECT_EQ(mixed.exit, 1);
    const json j = json::parse(mixed.out);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["raster"], "GS16");
    EXPECT_TRUE(j[1].contains("error"));
}

TEST_F(Kestro, ProgressOnlyOnATerminal)
{
    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i)
        files.push_back(synthFile(dir, "g" + std::to_string(i) + ".tif", "--width 64 --height 48 --lanes 2 --bands 2"));
    std::string args;
    for (const std::string& f : files)
        args += " " + quote(f);

    const Result piped = runKestro("info" + args, dir);
    EXPECT_EQ(piped.exit, 0);
    EXPECT_TRUE(piped.err.empty()) << piped.err;
    EXPECT_EQ(piped.out.find('\r'), std::string::npos);
    EXPECT_EQ(piped.out.find("reading"), std::string::npos);
    const Result folder = runKestro("background" + args + " -o " + quote((dir / "out").string()), dir);
    EXPECT_EQ(folder.exit, 0) << folder.err;
    EXPECT_TRUE(folder.err.empty()) << folder.err;
    EXPECT_TRUE(fs::exists(dir / "out" / "g2.background.tif"));

    // The same on a terminal draws the bar, and the reports still come through whole.
    std::vector<std::string> argv{"info"};
    argv.insert(argv.end(), files.begin(), files.end());
    const std::string shown = kestroOnTerminal(argv);
    EXPECT_NE(shown.find("reading ["), std::string::npos) << shown;
    EXPECT_NE(shown.find("3/3"), std::string::npos) << shown;
    EXPECT_NE(shown.find("FIT_UINT16"), std::string::npos) << shown;
    // A single file needs no bar.
    EXPECT_EQ(kestroOnTerminal({"info", files[0]}).find("reading ["), std::string::npos);
}

TEST_F(Kestro, DemoFindsTheTrueBands)
{
    const fs::path out = dir / "demo";
    const Result r = runKestro("demo --out " + quote(out.string()) + " --json", dir);
    ASSERT_EQ(r.exit, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j, json::parse(readFile((out / "report.json").string())));
    for (const char* f : {"gel.tif", "gel.truth.json", "background.tif", "subtracted.tif", "outlines.png"})
        EXPECT_TRUE(fs::exists(out / f)) << f;
    const auto& s = j["summary"];
    EXPECT_EQ(s["bands"], 48);
    EXPECT_EQ(s["withinOnePixel"], 48);
    EXPECT_GE(s["saturated"].get<int>(), 1);
    EXPECT_EQ(s["saturatedAndClipped"], s["saturated"]);
    for (const auto& b : j["bands"])
        EXPECT_EQ(b["outline"].size(), 360u);

    const Result text = runKestro("demo --out " + quote(out.string()), dir);
    EXPECT_EQ(text.exit, 0);
    EXPECT_NE(text.out.find("48 of 48 bands found within 1 pixel of the truth"), std::string::npos) << text.out;
}

TEST_F(Kestro, InfoReadsEveryRealGel)
{
    const fs::path gels = fs::path(KESTRO_SHARED_DIR) / "gels";
    if (!fs::is_directory(gels))
        GTEST_SKIP() << "no real gels at " << gels;
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(gels)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".md" || !entry.is_regular_file())
            continue;
        const Result r = runKestro("info --json " + quote(entry.path().string()), dir);
        EXPECT_EQ(r.exit, 0) << entry.path() << ": " << r.err;
        const json j = json::parse(r.out, nullptr, false);
        ASSERT_FALSE(j.is_discarded()) << entry.path();
        EXPECT_GT(j[0]["width"].get<int>(), 0) << entry.path();
        ++seen;
    }
    EXPECT_GE(seen, 1);
}

TEST_F(Kestro, LanesWritesTableReportsAndPictures)
{
    const std::string a = synthFile(dir, "a.tif", "--lanes 6 --bands 5 --saturated 2");
    const std::string b = synthFile(dir, "b.png", "--lanes 5 --bands 4 --depth 8 --seed 3");
    const fs::path out = dir / "out";
    const Result r = runKestro("lanes --json -o " + quote(out.string()) + " " + quote(a) + " " + quote(b) +
                                   " --ladder 1 --sizes 5000,3000,2000,1000,500",
                               dir);
    ASSERT_EQ(r.exit, 0) << r.err;
    const json j = json::parse(r.out, nullptr, false);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["lanes"], 6);
    EXPECT_EQ(j[1]["bands"], 20);

    // One row per band; the ladder's own bands get their sizes back; saturated bands say their
    // volume is a lower bound.
    std::ifstream csv(out / "bands.csv");
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line.substr(0, 21), "file,lane,band,centre");
    int rows = 0, lowerBounds = 0;
    const double sizes[] = {5000, 3000, 2000, 1000, 500};
    while (std::getline(csv, line)) {
        std::vector<std::string> cells;
        std::stringstream ss(line);
        for (std::string c; std::getline(ss, c, ',');)
            cells.push_back(c);
        ASSERT_EQ(cells.size(), 14u) << line;
        if (cells[0] == a && cells[1] == "1") {
            const double size = sizes[std::stoi(cells[2]) - 1];
            EXPECT_NEAR(std::stod(cells[11]), size, 1e-3 * size);
        }
        lowerBounds += cells[0] == a && cells[13] == "yes";
        ++rows;
    }
    EXPECT_EQ(rows, 30 + 20);
    EXPECT_EQ(lowerBounds, 2);

    const json report = json::parse(readFile((out / "a.lanes.json").string()), nullptr, false);
    EXPECT_EQ(report["lanes"].size(), 6u);
    EXPECT_EQ(report["calibration"]["sizes"].size(), 5u);
    DalvoImage png;
    ASSERT_TRUE(png.load((out / "b.lanes.png").string().c_str()));
    EXPECT_EQ(png.getBitsPerPixel(), 24u);
    EXPECT_EQ(png.getWidth(), 640u);

    const Result bad = runKestro("lanes -o " + quote(out.string()) + " " + quote(a) + " --ladder 9 --sizes 2,1", dir);
    EXPECT_EQ(bad.exit, 1);
    EXPECT_NE(bad.err.find("no ladder lane 9"), std::string::npos) << bad.err;
}
