// Untrusted files: huge claimed images refused before their pixels; damaged loads and decoders' words.
#include "ImageTestKit.h"
#include "framework/ArchiveTestSupport.h"
#include "image/Messages.h"
#include <KestroImage.h>
#include "support/DamagedFiles.h"

#include <sys/wait.h>

using namespace imagetest;

namespace {

// A row of a table of files: its name, a number (file size, or bits per pixel), then the bytes in hex.
Bytes hexRow(const std::string& row, std::string& name, size_t& number) {
    std::istringstream in(row);
    std::string hex;
    in >> name >> number >> hex;
    return Hx(hex);
}

std::string g_message;

// One load in a child process: its peak memory beyond the parent's resident pages (large when
// sanitized), and its CPU time, as on a loaded machine the wait for a core is no part of the load.
struct Bounded {
    int exit = -1;
    long peakKiB = 0;
    double seconds = 0;
};

Bounded inChild(const std::function<int()>& load) {
    long pages = 0, residentPages = 0;
    std::ifstream("/proc/self/statm") >> pages >> residentPages;
    const pid_t child = fork();
    if (child == 0) _exit(load());
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            usage.ru_maxrss - residentPages * (sysconf(_SC_PAGESIZE) / 1024),
            static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6};
}

// The bytes as the image of an image archive: class, empty history, the stored file, display block.
Bytes inArchive(const Bytes& file) {
    return Hx(Cls(1, "DalvoImage") + "FF FEFF 00") + Le32(file.size()) + file + Bytes(36, 0);
}

// A drawing document of one image object whose stored image file is the given bytes.
Bytes inDocument(const Bytes& file) {
    CDrawDocument doc;
    auto* object = new CDrawImage;
    object->Create(2, 2, 8, nullptr);
    doc.AddObject(object, 0);
    const Bytes d = StoreBytes([&](CArchive& ar) { doc.Serialize(ar); });
    for (size_t i = 4; i + 4 <= d.size(); ++i) {
        if (std::memcmp(&d[i], "II*", 4) != 0) continue;
        const size_t size = d[i - 4] | d[i - 3] << 8 | d[i - 2] << 16 | static_cast<size_t>(d[i - 1]) << 24;
        return Bytes(d.begin(), d.begin() + static_cast<long>(i) - 4) + Le32(file.size()) + file +
               Bytes(d.begin() + static_cast<long>(i + size), d.end());
    }
    return {};
}

// 0 when reading the bytes raises an archive exception, 1 when it does not.
int refusedFromArchive(const Bytes& bytes, const std::function<void(CArchive&)>& read) {
    return ArchiveCause([&] { LoadBytes(bytes, read); }) == -1;
}

} // namespace

// Each header is refused as a file, as the image of an image archive and inside a drawing
// document, each time within a second and 100 MB, and a refused file leaves the image as it was.
TEST(LoadLimit, HeadersClaimingHugeImagesAreRefusedBeforeTheirPixels) {
    const std::vector<std::string> rows = TableRows("image/data/hostile-headers.txt");
    ASSERT_EQ(rows.size(), 55u);
    for (const std::string& row : rows) {
        std::string name;
        size_t size = 0;
        Bytes claim = hexRow(row, name, size);
        claim.resize(size, 0); // the rest of the file is zeros
        SCOPED_TRACE(name);
        const std::string path = scratch("hostile-" + name);
        writeBytes(path, claim);
        const Bytes archive = inArchive(claim), document = inDocument(claim);
        ASSERT_FALSE(document.empty());
        const std::function<int()> loads[] = {
            [&] {
                FreeImage_SetOutputMessage([](FREE_IMAGE_FORMAT, const char* text) { g_message = text; });
                DalvoImage image(FIT_BITMAP, 3, 3, 8);
                const BOOL loaded = image.load(path.c_str());
                const bool refused = g_message.find("load limit") != std::string::npos ||
                                     g_message.find("data is missing") != std::string::npos ||
                                     g_message.find("before decoding") != std::string::npos;
                return loaded ? 1 : !refused ? 2 : image.getWidth() != 3 ? 3 : 0;
            },
            [&] {
                return refusedFromArchive(
                    archive, [](CArchive& ar) { delete ar.ReadObject(RUNTIME_CLASS(DalvoImage)); });
            },
            [&] { return refusedFromArchive(document, [](CArchive& ar) { CDrawDocument().Serialize(ar); }); },
        };
        for (const auto& load : loads) {
            const Bounded b = inChild(load);
            EXPECT_EQ(b.exit, 0)
                << "1 loaded, 2 not refused by the limit or the header check, 3 image changed";
            EXPECT_LT(b.peakKiB, 100 * 1024) << "peak KiB";
            EXPECT_LT(b.seconds, 1.0);
        }
    }
}

// Beside the refused TIFF layouts, the ones writers make still load: separate planes, grey with
// alpha, inks, floating point, a palette, BigTIFF, big-endian, no colour model named, tiles.
TEST(LoadLimit, TiffLayoutsThatWritersMakeStillLoad) {
    for (const std::string& row : TableRows("image/data/tiff-layouts.txt")) {
        std::string name;
        size_t bpp = 0;
        const Bytes tiff = hexRow(row, name, bpp);
        EXPECT_EQ(decoded(tiff).getBitsPerPixel(), bpp) << name; // 0 when it does not load
    }
}

TEST(LoadLimit, RunLengthTargasThatFreeImageWritesStillLoad) {
    // Runs and literal packets of every pixel size, across the packet walk's 64 KB reads.
    for (unsigned bpp : {8u, 24u, 32u})
        for (unsigned width : {1u, 77u, 300u}) {
            SCOPED_TRACE(::testing::Message() << bpp << " bits, " << width << " wide");
            fipImage image = patterned(width, 130, bpp);
            for (unsigned y = 0; y < 130; y += 3)
                std::memset(image.getScanLine(y), 7, image.getLine());
            fipImage back = decoded(encoded(image, FIF_TARGA, TARGA_SAVE_RLE)); // empty if either step fails
            EXPECT_TRUE(samePixels(image, back));
        }
}

TEST(LoadLimit, TheCallersLimitCountsTheRasterToo) {
    Bytes png = encoded(fipImage(FIT_UINT16, 100, 50, 16), FIF_PNG);
    const unsigned long long footprint = 100 * 50 * 2 + 100 * 50 * 4;
    DalvoImage image(FIT_BITMAP, 3, 3, 8);
    for (const auto& [limit, width] : {std::pair{footprint - 1, 3u}, std::pair{footprint, 100u}}) {
        fipImage::setLoadMemoryLimit(limit);
        EXPECT_EQ(image.Load(png.data(), static_cast<DWORD>(png.size())), width == 100u) << limit;
        EXPECT_EQ(image.getWidth(), width);
    }
    fipImage::setLoadMemoryLimit(fipImage::kDefaultLoadMemoryLimit);
}

TEST(Messages, ACutTiffIsADamagedLoadThatSpeaksToTheHandlerNotToStderr) {
    const std::vector<BYTE> cut = damaged::cutTiff();
    ASSERT_FALSE(cut.empty());
    std::vector<BYTE> whole = encoded(fipImage(FIT_UINT16, 8, 8, 16), FIF_TIFF);

    std::vector<kestro::Message> seen;
    kestro::setMessageHandler([&](const kestro::Message& m) { seen.push_back(m); });
    kestro::clearRecentMessages();
    testing::internal::CaptureStderr();
    DalvoImage image;
    EXPECT_TRUE(image.Load(const_cast<BYTE*>(cut.data()), static_cast<DWORD>(cut.size())));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(image.isLoadDamaged());
    const size_t spoken = seen.size();
    ASSERT_TRUE(image.Load(whole.data(), static_cast<DWORD>(whole.size())));
    EXPECT_FALSE(image.isLoadDamaged()) << image.getLoadDamage().front();
    // libtiff's answers to FreeImage's questions about tags are not the file's words.
    EXPECT_EQ(seen.size(), spoken);
    kestro::setMessageHandler(nullptr);

    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().format, FIF_TIFF);
    const std::vector<kestro::Message> recent = kestro::recentMessages();
    ASSERT_EQ(recent.size(), std::min<size_t>(seen.size(), 32));
    EXPECT_EQ(recent.back().text, seen.back().text);
}
