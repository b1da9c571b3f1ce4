// An image stored in and loaded from a memory archive (4096 x 4096, 16-bit synthetic gel),
// beside FreeImage's own TIFF encoding and decoding of the same bitmap in memory, and beside
// the literal loading steps (the bytes copied once more into a growable FreeImage stream).
// OpenCV has no peer here: its image codecs are not among the library's dependencies.
// After the timings it prints the peak memory that one load adds to the process.
#include "image/DalvoImage.h"
#include "synth/SyntheticGel.h"

#include "raster_bench_report.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 4096;
using Bytes = std::vector<BYTE>;

DalvoImage& gel() {
    static DalvoImage* image = [] {
        DalvoImage* img =
            kestro::SyntheticGel::generate(kestro::gelOptions(kSize, kSize, 20, 12, 7)).toImage();
        img->AddPreprocessStr(L"Median 3");
        img->AddPreprocessStr(L"Crop");
        return img;
    }();
    return *image;
}

const Bytes& tiffBytes() {
    static const Bytes bytes = [] {
        FIMEMORY* stream = FreeImage_OpenMemory();
        FreeImage_SaveToMemory(FIF_TIFF, gel(), stream, 0);
        BYTE* data = nullptr;
        DWORD size = 0;
        FreeImage_AcquireMemory(stream, &data, &size);
        Bytes out(data, data + size);
        FreeImage_CloseMemory(stream);
        return out;
    }();
    return bytes;
}

void storeArchive(CMemFile& file) {
    CArchive ar(&file, CArchive::store);
    ar.WriteObject(&gel());
    ar.Close();
}

const Bytes& archiveBytes() {
    static const Bytes bytes = [] {
        CMemFile file;
        storeArchive(file);
        return Bytes(file.GetBuffer(), file.GetBuffer() + file.GetLength());
    }();
    return bytes;
}

void loadArchive() {
    const Bytes& bytes = archiveBytes();
    CMemFile file(const_cast<BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
    CArchive ar(&file, CArchive::load);
    std::unique_ptr<CObject> image(ar.ReadObject(RUNTIME_CLASS(DalvoImage)));
    benchmark::DoNotOptimize(image.get());
}

void BM_Store_Ours(benchmark::State& state) {
    for (auto _ : state) {
        CMemFile file;
        storeArchive(file);
        benchmark::DoNotOptimize(file.GetBuffer());
    }
}
BENCHMARK(BM_Store_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Store_FreeImage(benchmark::State& state) {
    for (auto _ : state) {
        FIMEMORY* stream = FreeImage_OpenMemory();
        benchmark::DoNotOptimize(FreeImage_SaveToMemory(FIF_TIFF, gel(), stream, 0));
        FreeImage_CloseMemory(stream);
    }
}
BENCHMARK(BM_Store_FreeImage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Load_Ours(benchmark::State& state) {
    for (auto _ : state)
        loadArchive();
}
BENCHMARK(BM_Load_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

// The loading steps as written: a buffer of N bytes, copied into a growable stream, the format
// detected there, then decoded.
void BM_Load_Literal(benchmark::State& state) {
    const Bytes& tiff = tiffBytes();
    for (auto _ : state) {
        std::unique_ptr<BYTE[]> buffer(new BYTE[tiff.size()]);
        std::memcpy(buffer.get(), tiff.data(), tiff.size());
        FIMEMORY* stream = FreeImage_OpenMemory();
        FreeImage_WriteMemory(buffer.get(), 1, static_cast<unsigned>(tiff.size()), stream);
        FreeImage_SeekMemory(stream, 0, SEEK_SET);
        FIBITMAP* dib = FreeImage_LoadFromMemory(FreeImage_GetFileTypeFromMemory(stream, 0), stream, 0);
        benchmark::DoNotOptimize(dib);
        FreeImage_Unload(dib);
        FreeImage_CloseMemory(stream);
    }
}
BENCHMARK(BM_Load_Literal)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Load_FreeImage(benchmark::State& state) {
    const Bytes& tiff = tiffBytes();
    for (auto _ : state) {
        FIMEMORY* stream =
            FreeImage_OpenMemory(const_cast<BYTE*>(tiff.data()), static_cast<DWORD>(tiff.size()));
        FIBITMAP* dib = FreeImage_LoadFromMemory(FIF_TIFF, stream, 0);
        benchmark::DoNotOptimize(dib);
        FreeImage_Unload(dib);
        FreeImage_CloseMemory(stream);
    }
}
BENCHMARK(BM_Load_FreeImage)->Unit(benchmark::kMillisecond)->UseRealTime();

long statusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    return -1;
}

// Peak resident memory that one load adds: the kernel's high-water mark is reset to the
// current resident size just before, and read just after.
void reportPeakMemory() {
    loadArchive();  // warm: libraries and the archive bytes resident
    malloc_trim(0); // what the warm load freed goes back, so that the next load must map anew
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKilobytes("VmRSS:");
    loadArchive();
    const long peak = statusKilobytes("VmHWM:");
    if (before < 0 || peak < 0) {
        std::printf("\npeak memory while loading: not measurable here (no /proc)\n");
        return;
    }
    const double mb = 1024.0 * 1024.0;
    const double image = FreeImage_GetDIBSize(gel()) / mb;
    const double stored = tiffBytes().size() / mb;
    std::printf(
        "\npeak memory while loading: %.1f MB above the resident %.1f MB; image %.1f MB, stored %.1f MB,"
        " budget image + 2 x stored = %.1f MB\n",
        (peak - before) / 1024.0, before / 1024.0, image, stored, image + 2 * stored);
}

} // namespace

int main(int argc, char** argv) {
    using rasterbench::Comparison;
    const int result = rasterbench::runAndSummarise(
        argc, argv,
        {
            Comparison{"store", "BM_Store_Ours", {{"FreeImage", "BM_Store_FreeImage"}}, "<= 1.15x FreeImage"},
            Comparison{"load",
                       "BM_Load_Ours",
                       {{"FreeImage", "BM_Load_FreeImage"}, {"literal", "BM_Load_Literal"}},
                       "<= 1.15x FreeImage"},
        });
    reportPeakMemory();
    return result;
}
