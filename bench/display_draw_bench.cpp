// Drawing an unchanged 4096 x 4096 16-bit gel into a 1024 x 1024 canvas: the first draw (display
// bitmap rebuilt, then blitted) and each further draw (blit only), beside a literal nearest-pixel
// loop, OpenCV's nearest resize of the same 8-bit picture, a memcpy of the canvas and FreeImage's
// linear conversion to 8 bits alone.
#include <KestroImage.h>

#include "raster_bench_report.h"
#include "synth/SyntheticGel.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kImage = 4096;
constexpr int kCanvas = 1024;

DalvoImage& gel() {
    static DalvoImage* image = kestro::SyntheticGel::generate(kestro::gelOptions(kImage, kImage, 20, 8)).toImage();
    return *image;
}

// The 8-bit picture the display shows: FreeImage's linear conversion, grey palette.
FIBITMAP* picture() {
    static FIBITMAP* dib = FreeImage_ConvertToStandardType(gel(), TRUE);
    return dib;
}

// The nearest-pixel blit written out: each canvas pixel samples the centre of its span.
void literalBlit(FIBITMAP* dib, std::vector<BYTE>& canvas) {
    const int w = static_cast<int>(FreeImage_GetWidth(dib)), h = static_cast<int>(FreeImage_GetHeight(dib));
    const RGBQUAD* palette = FreeImage_GetPalette(dib);
    for (int y = 0; y < kCanvas; ++y) {
        const long long sy = (2LL * y + 1) * h / (2LL * kCanvas);
        const BYTE* line = FreeImage_GetScanLine(dib, h - 1 - static_cast<int>(sy));
        for (int x = 0; x < kCanvas; ++x) {
            const RGBQUAD& c = palette[line[(2LL * x + 1) * w / (2LL * kCanvas)]];
            BYTE* out = &canvas[(static_cast<size_t>(y) * kCanvas + x) * 3];
            out[0] = c.rgbRed;
            out[1] = c.rgbGreen;
            out[2] = c.rgbBlue;
        }
    }
}

const CRect kWhole(0, 0, kCanvas, kCanvas);

void BM_FirstDraw_Ours(benchmark::State& state) {
    CDC dc;
    dc.CreateCanvas(kCanvas, kCanvas);
    for (auto _ : state) {
        gel().setModified();
        gel().draw(&dc, &kWhole);
        benchmark::ClobberMemory();
    }
}

void BM_Draw_Ours(benchmark::State& state) {
    CDC dc;
    dc.CreateCanvas(kCanvas, kCanvas);
    gel().setModified();
    gel().draw(&dc, &kWhole);
    for (auto _ : state) {
        gel().draw(&dc, &kWhole);
        benchmark::ClobberMemory();
    }
}

void BM_Draw_Literal(benchmark::State& state) {
    std::vector<BYTE> canvas(size_t(kCanvas) * kCanvas * 3);
    for (auto _ : state) {
        literalBlit(picture(), canvas);
        benchmark::DoNotOptimize(canvas.data());
    }
}

void BM_Resize_OpenCV(benchmark::State& state) {
    FIBITMAP* dib = picture();
    // FreeImage's rows are bottom-up; the resize does not care.
    const cv::Mat source(kImage, kImage, CV_8UC1, FreeImage_GetBits(dib), FreeImage_GetPitch(dib));
    cv::Mat target(kCanvas, kCanvas, CV_8UC1);
    for (auto _ : state) {
        cv::resize(source, target, target.size(), 0, 0, cv::INTER_NEAREST);
        benchmark::DoNotOptimize(target.data);
    }
}

void BM_CanvasMemcpy(benchmark::State& state) {
    std::vector<BYTE> from(size_t(kCanvas) * kCanvas * 3, 7), to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

void BM_ConvertLinear_FreeImage(benchmark::State& state) {
    for (auto _ : state) {
        FIBITMAP* dib = FreeImage_ConvertToStandardType(gel(), TRUE);
        benchmark::DoNotOptimize(dib);
        FreeImage_Unload(dib);
    }
}

BENCHMARK(BM_FirstDraw_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Draw_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Draw_Literal)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Resize_OpenCV)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CanvasMemcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertLinear_FreeImage)->Unit(benchmark::kMillisecond)->UseRealTime();

// The canvas our drawing path fills must equal the literal loop's, byte for byte.
bool sameAsLiteral() {
    CDC dc;
    dc.CreateCanvas(kCanvas, kCanvas);
    gel().setModified();
    gel().draw(&dc, &kWhole);
    std::vector<BYTE> literal(size_t(kCanvas) * kCanvas * 3);
    literalBlit(picture(), literal);
    return std::memcmp(dc.GetCanvasBits(), literal.data(), literal.size()) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!sameAsLiteral()) {
        std::fprintf(stderr, "the drawn canvas differs from the literal nearest-pixel loop\n");
        return 1;
    }
    using rasterbench::Comparison;
    return rasterbench::runAndSummarise(
        argc, argv,
        {
            Comparison{"further draw (blit)", "BM_Draw_Ours",
                       {{"literal", "BM_Draw_Literal"}, {"cv::resize nearest", "BM_Resize_OpenCV"}, {"memcpy canvas", "BM_CanvasMemcpy"}},
                       "<= 2x cv::resize"},
            Comparison{"first draw", "BM_FirstDraw_Ours",
                       {{"FreeImage linear 8-bit", "BM_ConvertLinear_FreeImage"}, {"further draw", "BM_Draw_Ours"}},
                       "rebuild <= 3x linear conversion"},
        });
}
