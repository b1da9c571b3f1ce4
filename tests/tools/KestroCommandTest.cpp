// The kestro command run as a program: exit codes, reports, errors, progress and the files it writes.
#include "KestroRun.h"
#include "support/DamagedFiles.h"

#include <cstring>

#include <sys/stat.h>

using namespace kestro;
using namespace kestrorun;

namespace {

// The bytes of row y (from the top), columns [x0, x1), of an image of 8 bits or more.
std::string rowBytes(fipImage& image, int y, int x0, int x1) {
    const unsigned bytes = image.getBitsPerPixel() / 8;
    const BYTE* row = image.getScanLine(image.getHeight() - 1 - static_cast<unsigned>(y));
    return std::string(reinterpret_cast<const char*>(row) + x0 * bytes, (x1 - x0) * bytes);
}

// Names earlier versions used for their temporaries, and a guess at a mkstemp-like one.
const char* const kDecoys[] = {".part", ".saving", ".kestro-tmp", ".partial", ".XXXXXX"};

void plantDecoys(const fs::path& beside) {
    for (const char* suffix : kDecoys) {
        std::ofstream(beside.string() + suffix) << "decoy";
        std::ofstream((beside.parent_path() / ("." + beside.filename().string() + suffix)).string())
            << "decoy";
    }
}

// Hidden files: the decoys, and any temporary left behind.
size_t hidden(const fs::path& dir) {
    size_t n = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
        n += e.path().filename().string()[0] == '.';
    return n;
}

} // namespace

using Kestro = ToolTest;
using ProcessCommand = ToolTest;
using DocCommand = ToolTest;
using OutputFiles = ToolTest;

TEST_F(Kestro, SynthWritesWhatTheGeneratorMakes) {
    const Result r = ok("synth gel.tif --lanes 4 --bands 3 --width 200 --height 160 --seed 7 --json");
    EXPECT_EQ(json::parse(r.out)["bands"], 12);
    const SyntheticGel gel = SyntheticGel::generate(gelOptions(200, 160, 4, 3, 7));
    EXPECT_EQ(nlohmann::ordered_json::parse(readFile(dir / "gel.truth.json")), gel.truthJson());
    gel.save((dir / "again.tif").string());
    EXPECT_EQ(readFile(dir / "gel.tif"), readFile(dir / "again.tif"));
}

// Bits used, clipped pixels, min, max and mean against the values written; depth and format in words.
TEST_F(Kestro, InfoSpeaksPlainly) {
    const std::function<int(int, int)> camera = [](int x, int y) { return (x * 97 + y * 1313) % 4096; };
    const struct {
        const char* name;
        std::function<int(int, int)> value;
        int bits;
    } cases[] = {{"camera12.tif", camera, 12},
                 {"shifted12.tif", [&](int x, int y) { return camera(x, y) << 4; }, 12},
                 {"clipped.tif", [&](int x, int y) { return x < 3 && y == 1 ? 65535 : camera(x, y); }, 16},
                 {"bytes.png", [&](int x, int y) { return x == 0 ? 255 : camera(x, y) >> 5; }, 8},
                 // Dark bands on a light gel saturate at 0, and are counted there.
                 {"dark.tif",
                  [](int x, int y) {
                      return y >= 10 && y < 14 ? (x % 10 == 0 ? 0 : 20000) : 60000 + (x * 7 + y) % 100;
                  },
                  16}};
    std::string args;
    for (const auto& c : cases) {
        std::unique_ptr<DalvoImage> image(c.bits == 8 ? rastertest::grayImage<BYTE>(40, 30, c.value)
                                                      : rastertest::grayImage<WORD>(40, 30, c.value));
        image->setHorizontalResolution(300 / 2.54); // pixels per centimetre
        image->setVerticalResolution(150 / 2.54);
        ASSERT_TRUE(save(*image, dir / c.name));
        args += std::string(" ") + c.name;
    }
    const json j = json::parse(ok("info --json" + args).out);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const int top = j[i]["bands"] == "dark" ? 0 : i == 3 ? 255 : 65535;
        long long min = 1 << 30, max = 0, saturated = 0;
        double sum = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                const int v = cases[i].value(x, y);
                min = std::min<long long>(min, v), max = std::max<long long>(max, v), sum += v,
                saturated += v == top;
            }
        const json expected = {{"format", i == 3 ? "PNG" : "TIFF"},
                               {"pixelType", i == 3 ? "8-bit grayscale" : "16-bit grayscale"},
                               {"bitsUsed", cases[i].bits},
                               {"min", min},
                               {"max", max},
                               {"saturationLevel", top},
                               {"saturated", saturated},
                               {"dpi", {300.0, 150.0}}};
        for (const auto& [key, value] : expected.items())
            EXPECT_EQ(j[i][key], value) << key;
        EXPECT_NEAR(j[i]["mean"].get<double>(), sum / 1200, 1e-6);
        EXPECT_EQ(j[i].contains("minIsWhite"), i != 3);
        EXPECT_TRUE(i != 4 || j[i]["bands"] == "dark");
    }
    // A gel of bright bands saturates at the top of its depth.
    synth("bright.tif", "--width 200 --height 160 --lanes 4 --bands 3 --saturated 1");
    EXPECT_TRUE(has(run("info bright.tif", dir).out, " pixels at 65535;"));
    // A float image has no raster to measure.
    ASSERT_TRUE(save(DalvoImage(FIT_FLOAT, 8, 6, 32), dir / "float.tif"));
    const json floats = json::parse(run("info --json float.tif", dir).out)[0];
    EXPECT_EQ(floats["pixelType"].get<std::string>() + floats["bitsUsed"].dump(),
              "32-bit floating-point grayscalenull");
}

TEST_F(Kestro, SubtractIsTheImageLessItsBackgroundInEitherDepth) {
    for (const std::string depth : {"16", "8"}) {
        synth("gel" + depth + ".tif", "--width 160 --height 120 --lanes 3 --depth " + depth);
        ok("background gel" + depth + ".tif -o bg" + depth + ".tif --half 12 3");
        ok("background gel" + depth + ".tif -o sub" + depth + ".tif --half 12 3 --subtract");
        DalvoImage images[3];
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(load(images[i], dir / ((i == 0 ? "gel" : i == 1 ? "bg" : "sub") + depth + ".tif")));
            EXPECT_EQ(images[i].getBitsPerPixel(), depth == "8" ? 8u : 16u) << i;
        }
        RasterImageGS16 g(&images[0]), b(&images[1]), s(&images[2]);
        int mismatches = 0;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x)
                mismatches += s.getPixel(x, y) != std::max(0, g.getPixel(x, y) - b.getPixel(x, y));
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_F(Kestro, EveryFailureIsOneLineWithANormalExit) {
    std::map<std::string, std::string> files = {
        {"{gel}", synth("gel.tif", "--width 100 --height 80 --lanes 2 --bands 2")},
        {"{colour}", synth("colour.tif", "--width 100 --height 80 --lanes 2 --bands 2 --depth rgb")},
        {"{dir}", dir.string()}};
    for (const std::string name : {"junk.tif", "missing.tif", "cut.tif", "fifo.tif", "trailing.kdoc",
                                   "far.kdoc", "schema.kdoc", "rgba16.tif"})
        files["{" + name.substr(0, name.find('.')) + "}"] = (dir / name).string();
    std::ofstream(files.at("{junk}")) << "this is not an image\n";
    ASSERT_TRUE(DalvoImage(FIT_RGBA16, 60, 40, 64).save(CString::FromUtf8(files.at("{rgba16}"))));
    ASSERT_EQ(mkfifo(files.at("{fifo}").c_str(), 0600), 0);
    {
        CDrawDocument doc;
        auto* object = new CDrawImage;
        object->Create(4, 3, 8, nullptr);
        doc.AddObject(object, 0);
        ASSERT_TRUE(doc.OnSaveDocument(CString::FromUtf8(files.at("{trailing}"))));
        std::string bytes = readFile(files.at("{trailing}"));
        std::ofstream(files.at("{trailing}"), std::ios::app) << "more";
        const size_t name = bytes.find("CDrawImage");
        ASSERT_NE(name, std::string::npos);
        bytes[name - 4] = 5; // the class's schema, before the length of its name
        std::ofstream(files.at("{schema}"), std::ios::binary) << bytes;
        object->m_rcBounds.SetRect(0, 0, 60000, 60000);
        ASSERT_TRUE(doc.OnSaveDocument(CString::FromUtf8(files.at("{far}"))));
    }
    const std::vector<BYTE> cut = damaged::cutTiff();
    ASSERT_FALSE(cut.empty());
    imagetest::writeBytes(files.at("{cut}"), cut);
    ok("--accept-damaged info " + quote(files.at("{cut}")));
    const std::vector<std::string> rows = TableRows("tools/data/kestro-errors.txt");
    for (const std::string& line : rows) {
        const size_t bar1 = line.find('|'), bar2 = line.find('|', bar1 + 1);
        std::string mention = line.substr(bar1 + 1, bar2 - bar1 - 1), args = line.substr(bar2 + 1);
        mention = mention.substr(1, mention.find_last_not_of(' '));
        for (const auto& [name, path] : files)
            for (size_t at; (at = args.find(name)) != std::string::npos;)
                args.replace(at, name.size(), quote(path));
        const Result r = run(args, dir);
        SCOPED_TRACE(args);
        EXPECT_EQ(r.exit, std::stoi(line));
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("kestro: error: ", 0), 0u) << r.err;
        EXPECT_TRUE(has(r.err, mention));
        if (const size_t o = line.find("-o {dir}/"); o != std::string::npos) {
            const fs::path output = dir / line.substr(o + 9, line.find(' ', o + 9) - o - 9);
            EXPECT_TRUE(!fs::exists(output) || (fs::is_directory(output) && fs::is_empty(output))) << output;
        }
    }
    EXPECT_EQ(rows.size(), 64u);
    // One bad file among good ones: the good one is still reported, the exit says something failed.
    const Result mixed =
        fails("info --json " + quote(files.at("{gel}")) + " " + quote(files.at("{missing}")), "missing.tif");
    EXPECT_EQ(json::parse(mixed.out)[0]["raster"], "GS16");
    EXPECT_TRUE(json::parse(mixed.out)[1].contains("error"));
}

TEST_F(Kestro, ProgressOnlyOnATerminal) {
    std::string args;
    for (int i = 0; i < 3; ++i)
        args += " " +
                quote(synth("g" + std::to_string(i) + ".tif", "--width 64 --height 48 --lanes 2 --bands 2"));
    const Result piped = run("info" + args, dir), shown = run("info" + args, dir, true);
    EXPECT_EQ(piped.err, "");
    EXPECT_FALSE(has(piped.out, "reading"));
    if (shown.exit != 0) GTEST_SKIP() << "script(1) gives no pseudo-terminal here";
    for (const char* part : {"reading [", "3/3", "16-bit grey"}) // the reports still come whole
        EXPECT_TRUE(has(shown.out, part));
    EXPECT_FALSE(has(run("info" + args.substr(0, args.find(' ', 1)), dir, true).out, "reading ["));
}

TEST_F(Kestro, DemoFindsTheTrueBands) {
    const fs::path out = dir / "demo";
    const json j = json::parse(ok("demo --out " + quote(out.string()) + " --json").out);
    EXPECT_EQ(j, readJson(out / "report.json"));
    for (const char* f : {"gel.tif", "gel.truth.json", "background.tif", "subtracted.tif", "outlines.png"})
        EXPECT_TRUE(fs::exists(out / f)) << f;
    EXPECT_EQ(j["summary"]["bands"], 48);
    EXPECT_EQ(j["summary"]["withinOnePixel"], 48);
    EXPECT_GE(j["summary"]["saturated"].get<int>(), 1);
    EXPECT_EQ(j["summary"]["saturatedAndClipped"], j["summary"]["saturated"]);
}

TEST_F(Kestro, PackWritesTheHostsObjectThatInfoReads) {
    synth("gel.tif", "--width 90 --height 70 --lanes 2 --bands 2");
    ok("pack gel.tif -o gel.kimg");
    // The image object as a host reads it (its bytes are the archive tests').
    const std::string bytes = readFile(dir / "gel.kimg");
    DalvoImage fromFile;
    ASSERT_TRUE(load(fromFile, dir / "gel.tif"));
    CFile file(CString::FromUtf8((dir / "gel.kimg").string()), CFile::modeRead);
    CArchive ar(&file, CArchive::load);
    std::unique_ptr<CObject> read(ar.ReadObject(RUNTIME_CLASS(DalvoImage)));
    auto* image = static_cast<DalvoImage*>(read.get());
    ASSERT_EQ(image->getHeight(), 70u);
    for (unsigned y = 0; y < 70; ++y)
        EXPECT_EQ(std::memcmp(image->getScanLine(y), fromFile.getScanLine(y), 180), 0) << y;

    // An archive with a history and display settings, as a host would store it.
    image->setImageAdjustmentValues(10, 20, 2.2);
    image->SetPreprocessStr(L"{Crop}{Median 3}");
    {
        CFile out(CString::FromUtf8((dir / "stored.kimg").string()), CFile::modeCreate | CFile::modeWrite);
        CArchive store(&out, CArchive::store);
        store.WriteObject(image);
    }
    EXPECT_EQ(json::parse(run("info --json stored.kimg", dir).out)[0]["history"], "{Crop}{Median 3}");
    EXPECT_TRUE(has(run("info stored.kimg", dir).out, "brightness 10, contrast 20, gamma 2.2"));

    // A cut archive is refused; a failed pack leaves the file it was to replace as it was.
    std::ofstream(dir / "cut.kimg", std::ios::binary) << bytes.substr(0, 100);
    fails("info cut.kimg", "ends too early");
    DalvoImage refused;
    refused.setSize(FIT_BITMAP, 4, 4, 16, FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK);
    ASSERT_TRUE(save(refused, dir / "rgb565.bmp"));
    fails("pack rgb565.bmp -o gel.kimg", "cannot be stored as TIFF");
    EXPECT_EQ(readFile(dir / "gel.kimg"), bytes);
    EXPECT_EQ(hidden(dir), 0u);
}

TEST_F(Kestro, LanesWritesItsTablesReportsPictures) {
    const std::string a = synth("a.tif", "--lanes 6 --bands 5 --saturated 2");
    const std::string b = synth("b.png", "--lanes 5 --bands 4 --depth 8 --seed 3");
    const fs::path out = dir / "out";
    const Result r = ok("lanes --json -o " + quote(out.string()) + " " + quote(a) + " " + quote(b) +
                        " --ladder 1 --sizes 5000,3000,2000,1000,500");
    const json j = json::parse(r.out, nullptr, false);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["lanes"], 6);
    EXPECT_EQ(j[1]["bands"], 20);

    // One row per band; saturated bands say their volume is a lower bound (the sizes a ladder gives
    // are the calibration tests').
    const std::string table = readFile(out / "bands.csv");
    EXPECT_EQ(table.substr(0, table.find('\n')),
              "file,tier,lane,lane in tier,band,centre x,peak y,top,bottom,raw volume,corrected volume,"
              "relative volume,saturated pixels,size,size extrapolated,volume is lower bound,diffuse");
    const Table bands = readCsv(out / "bands.csv");
    ASSERT_EQ(bands.size(), 30u + 20);
    int lowerBounds = 0;
    for (const auto& row : bands)
        lowerBounds += row.at("file") == a && row.at("volume is lower bound") == "yes";
    EXPECT_EQ(lowerBounds, 2);

    const json report = readJson(out / "a.lanes.json");
    EXPECT_EQ(report["lanes"].size(), 6u);
    EXPECT_EQ(report["calibration"]["sizes"].size(), 5u);
    DalvoImage png;
    ASSERT_TRUE(png.load((out / "b.lanes.png").string().c_str()));
    EXPECT_EQ(png.getBitsPerPixel(), 24u);
    EXPECT_EQ(png.getWidth(), 640u);
}

// An output that is an input through a link is refused and the input kept; --force, before or after
// the command, writes it. (Refusals by name and clashing batch outputs: rows of the errors table.)
TEST_F(Kestro, OutputsNeverOverwriteAnInput) {
    synth("gel.tif", "--width 60 --height 40 --lanes 2 --bands 1");
    fs::create_symlink("gel.tif", dir / "soft.tif");
    fs::create_hard_link(dir / "gel.tif", dir / "hard.tif");
    const std::string before = readFile(dir / "gel.tif");
    for (const char* args :
         {"process gel.tif -o soft.tif --flip-h", "process soft.tif -o hard.tif --invert",
          "pack hard.tif -o gel.tif", "render gel.tif -o soft.tif", "background gel.tif -o hard.tif"})
        fails(args, "same file as the input");
    EXPECT_EQ(readFile(dir / "gel.tif"), before);
    ok("process soft.tif -o soft.tif --flip-h --force"); // also after the command
    EXPECT_TRUE(fs::is_symlink(dir / "soft.tif"));
    EXPECT_NE(readFile(dir / "gel.tif"), before);
}

// A folder stands for its image files, sorted, not those of its subfolders; the rest is a note.
TEST_F(Kestro, FoldersAreInputs) {
    fs::create_directories(dir / "scans" / "older");
    for (const char* name : {"scans/b.tif", "scans/a.png", "scans/older/c.tif"})
        synth(name, "--width 40 --height 32 --lanes 2 --bands 1 --depth 8");
    std::ofstream(dir / "scans" / "notes.txt") << "lane 3 is the ladder\n";
    const Result r = ok("info --json scans");
    std::vector<std::string> files;
    for (const json& e : json::parse(r.out))
        files.push_back(e["file"]);
    EXPECT_EQ(files, std::vector<std::string>({"scans/a.png", "scans/b.tif"}));
    EXPECT_EQ(r.err, "kestro: note: scans/a.truth.json: not an image, skipped\n"
                     "kestro: note: scans/b.truth.json: not an image, skipped\n"
                     "kestro: note: scans/notes.txt: not an image, skipped\n");
    ok("background scans -o out --half 4 2");
    EXPECT_TRUE(fs::exists(dir / "out" / "a.background.tif") && fs::exists(dir / "out" / "b.background.tif"));
}

// A text output that cannot be put in place leaves the target as it was and no temporary file.
TEST_F(Kestro, TextOutputsAreReplacedWholeOrNotAtAll) {
    synth("gel.tif", "--width 160 --height 120 --lanes 3 --bands 2");
    fs::create_directories(dir / "out" / "bands.csv");
    fails("lanes gel.tif -o out --force", "bands.csv: cannot write (not a regular file)");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 3); // and the PNG
    EXPECT_TRUE(fs::is_empty(dir / "out" / "bands.csv"));
    std::ofstream(dir / "out" / "gel.lanes.json") << "earlier report\n";
    fs::permissions(dir / "out" / "gel.lanes.json", fs::perms::owner_read | fs::perms::group_read);
    fails("lanes gel.tif -o out --force", "gel.lanes.json: cannot write");
    EXPECT_EQ(readFile(dir / "out" / "gel.lanes.json"), "earlier report\n");
    EXPECT_EQ(fs::status(dir / "out" / "gel.lanes.json").permissions(),
              fs::perms::owner_read | fs::perms::group_read);
}

// kestro process: steps in command-line order, the history printed (refusals: the errors table).
TEST_F(ProcessCommand, AppliesStepsInOrderPrintingTheHistory) {
    ASSERT_TRUE(writeGrey<WORD>(dir / "in.tif", 5, 3, [](int x, int y) { return 30000 + 100 * y + x; }));

    // Flipped, rows 2 and 1 cropped to columns 1..3, stretched by 2 about 32768, turned left.
    const Result r = ok("process in.tif -o out.tif --flip-v --crop 1 0 4 2 --contrast 100 --rotate 90");
    EXPECT_TRUE(
        has(r.out,
            "1. Flip Vertically\n  2. Crop\n  3. Contrast: Average 100\n  4. Rotatation of 90.00 Degrees\n"));
    DalvoImage result;
    ASSERT_TRUE(load(result, dir / "out.tif"));
    const int expected[3][2] = {{27638, 27438}, {27636, 27436}, {27634, 27434}};
    ASSERT_EQ(result.getWidth() * 10 + result.getHeight(), 23u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(reinterpret_cast<WORD*>(rastertest::pictureRow(result, y))[x], expected[y][x]);
}

// kestro doc as a program: a document made from a gel, cropped and copied through the tools,
// shown and rendered, checked against the gel file itself.
TEST_F(DocCommand, EveryDocumentCommandOnASyntheticGel) {
    ok("synth gel.tif --width 120 --height 90");
    ok("doc new d.kdoc gel.tif");
    ok("doc crop d.kdoc 0 60 40 10 10"); // dragged up and to the left
    ok("doc copy d.kdoc 0 45 25 5 5");
    const json j = json::parse(ok("doc show d.kdoc --json").out);
    ASSERT_EQ(j["objects"].size(), 2u);
    EXPECT_EQ(j["objects"][0]["position"], json({0, 0, 50, 30}));
    EXPECT_EQ(j["objects"][1]["position"], json({0, 0, 40, 20}));
    auto steps = j["objects"][0]["history"].get<std::vector<std::string>>();
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), "{Crop}");
    steps.push_back("{Crop}");
    EXPECT_EQ(j["objects"][1]["history"].get<std::vector<std::string>>(), steps);

    // The objects hold the gel's own pixels from row and column 10 and 15 (the tools' tests check the rest).
    fipImage source;
    ASSERT_TRUE(load(source, dir / "gel.tif"));
    CDrawDocument back;
    ASSERT_TRUE(back.OnOpenDocument(CString::FromUtf8((dir / "d.kdoc").string())));
    for (int i = 0; i < 2; ++i) {
        DalvoImage& image = *static_cast<CDrawImage*>(back.GetObjectList()->GetAt(i))->GetImage();
        const int offset = i == 0 ? 10 : 15, width = static_cast<int>(image.getWidth());
        EXPECT_EQ(rowBytes(image, 0, 0, width), rowBytes(source, offset, offset, offset + width)) << i;
    }

    ok("doc render d.kdoc -o view.png");
    fipImage view;
    ASSERT_TRUE(load(view, dir / "view.png"));
    EXPECT_EQ(view.getWidth() * 100 + view.getHeight(), 5030u);

    EXPECT_EQ(fails("doc copy d.kdoc 0 7 7 7 7", "").err, "kestro: error: Copied nothing!\n");
}

// Every file kestro writes: through a link to what it points to, keeping the link and the old
// file's mode, beside files whose names look temporary without touching them.
TEST_F(OutputFiles, EveryWriterReplacesTheLinkedFileOnlyKeepingItsMode) {
    const std::vector<std::string> rows = TableRows("tools/data/output-writers.txt");
    for (const std::string& row : rows) {
        SCOPED_TRACE(row);
        const std::string output = row.substr(0, row.find(" | ")), command = row.substr(row.find(" | ") + 3);
        scratch(dir.filename().string()); // the test's folder, emptied
        synth("gel.tif", "--width 160 --height 120 --lanes 3 --bands 2");
        const fs::path link = dir / output, real = dir / "kept" / "real";
        fs::create_directories(real.parent_path());
        fs::create_directories(link.parent_path());
        std::ofstream(real) << "old";
        fs::permissions(real, fs::perms(0600));
        fs::create_symlink(real, link);
        plantDecoys(real);
        plantDecoys(link);
        const size_t besideReal = hidden(real.parent_path()), besideLink = hidden(link.parent_path());

        ok(command);
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_NE(readFile(real), "old");
        EXPECT_EQ(fs::status(real).permissions(), fs::perms(0600));
        EXPECT_EQ(hidden(real.parent_path()), besideReal);
        EXPECT_EQ(hidden(link.parent_path()), besideLink);
        for (const fs::path& beside : {real, link})
            for (const char* suffix : kDecoys)
                EXPECT_EQ(readFile(beside.string() + suffix), "decoy") << suffix;
    }
    EXPECT_EQ(rows.size(), 12u);
}
