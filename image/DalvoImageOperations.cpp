// The processing commands of the image object: geometry, tone, the median filter and the named
// filters that only record themselves.
#include "image/DalvoImage.h"
#include "image/detail/InPlace.h"
#include "raster/detail/Kernels.h"
#include "raster/detail/MatrixTypes.h"
#include "raster/detail/Parallel.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kToneLevels = 65536;

// The tone table of ContrastAve (centred about mid-grey) and Intensity: the clamp to 65535
// comes before the one at 0, and values round half up. Its levels are made on the threads too:
// on one they took a tenth of a 4096 x 4096 image's time, which two threads share.
std::unique_ptr<unsigned short[]> toneTable(int percent, bool centred) {
    std::unique_ptr<unsigned short[]> table(new unsigned short[kToneLevels]);
    const double factor = (percent + 100.0) / 100.0;
    kestro::detail::parallelRows(kToneLevels, 1, [&](long first, long end) {
        for (long v = first; v < end; ++v) {
            double x = centred ? (v - 32768) * factor + 32768.0 : v * factor;
            x = std::min(65535.0, x);
            if (!(x > 0)) x = 0;
            table[v] = static_cast<unsigned short>(static_cast<int>(std::floor(x + 0.5)));
        }
    });
    return table;
}

// Background colours of rotate(int, unsigned long), one per pixel type FreeImage_Rotate fills.
union RotationBackground {
    RGBQUAD quad;
    WORD word;
    float real;
    FIRGB16 rgb16;
    FIRGBA16 rgba16;
    FIRGBF rgbf;
    FIRGBAF rgbaf;
};

RotationBackground rotationBackground(FREE_IMAGE_TYPE type, unsigned long colour) {
    RotationBackground bk;
    std::memset(&bk, 0, sizeof bk);
    const unsigned red = colour & 0xFFu, green = (colour >> 8) & 0xFFu, blue = (colour >> 16) & 0xFFu;
    const unsigned alpha = (colour >> 24) & 0xFFu;
    switch (type) {
    case FIT_UINT16:
        bk.word = static_cast<WORD>(colour & 0xFFFFu);
        break;
    case FIT_FLOAT:
        bk.real = static_cast<float>(colour);
        break;
    case FIT_RGB16:
        bk.rgb16 = {static_cast<WORD>(red * 257u), static_cast<WORD>(green * 257u),
                    static_cast<WORD>(blue * 257u)};
        break;
    case FIT_RGBA16:
        bk.rgba16 = {static_cast<WORD>(red * 257u), static_cast<WORD>(green * 257u),
                     static_cast<WORD>(blue * 257u), static_cast<WORD>(alpha * 257u)};
        break;
    case FIT_RGBF:
        bk.rgbf = {red / 255.0f, green / 255.0f, blue / 255.0f};
        break;
    case FIT_RGBAF:
        bk.rgbaf = {red / 255.0f, green / 255.0f, blue / 255.0f, alpha / 255.0f};
        break;
    default:
        bk.quad.rgbRed = static_cast<BYTE>(red);
        bk.quad.rgbGreen = static_cast<BYTE>(green);
        bk.quad.rgbBlue = static_cast<BYTE>(blue);
        bk.quad.rgbReserved = static_cast<BYTE>(alpha);
        break;
    }
    return bk;
}

// cv::medianBlur of the source's pixels into a bitmap of the same size and type, in strips of
// rows that stay in the cache, so that no matrix of the whole image is ever made. Each strip is
// read with size / 2 rows of its neighbours above and below, so every row that is kept saw
// exactly the rows the whole matrix would give it; the neighbours' own results are dropped. Rows
// go in matrix order (top first), so even float samples meet the same comparisons. OpenCV
// refuses a size on the first strip, before anything is written.
void medianInStrips(FIBITMAP* source, FIBITMAP* target, int matrixType, int size) {
    const int width = static_cast<int>(FreeImage_GetWidth(source));
    const int height = static_cast<int>(FreeImage_GetHeight(source));
    // A reach beyond the height sees the whole image from every row, as does the height itself.
    const int reach = std::min(size > 1 ? size / 2 : 0, height);
    const size_t rowBytes = CV_ELEM_SIZE(matrixType) * static_cast<size_t>(width);
    constexpr size_t kStripBytes = 512 * 1024;
    const int core = static_cast<int>(std::min<long long>(
        height, std::max(4LL * std::max(reach, 1), static_cast<long long>(kStripBytes / rowBytes))));
    const int rows = static_cast<int>(std::min<long long>(height, core + 2LL * reach));
    // Matrix rows run top-down, scan lines bottom-up.
    const auto line = [&](FIBITMAP* dib, int y) { return FreeImage_GetScanLine(dib, height - 1 - y); };

    // Bands of rows go to the threads, each with matrices of its own; a strip may start at any
    // row, so a band's strips start at its first row.
    const int bands = kestro::detail::bandCount(height, static_cast<size_t>(width));
    kestro::detail::runBands(bands, [&](int band) {
        const int bandTop = static_cast<int>(kestro::detail::bandBegin(height, bands, band));
        const int bandEnd = static_cast<int>(kestro::detail::bandBegin(height, bands, band + 1));
        // Kept by each thread between calls: freed after every band they would go back to the
        // system and fault in again for the next.
        thread_local cv::Mat in, out;
        in.create(rows, width, matrixType);
        out.create(rows, width, matrixType);
        for (int top = bandTop; top < bandEnd; top += core) {
            const int end = std::min(bandEnd, top + core);
            const int first = std::max(0, top - reach), last = std::min(height, end + reach);
            for (int y = first; y < last; ++y)
                std::memcpy(in.ptr(y - first), line(source, y), rowBytes);
            // Plain headers, not row ranges: OpenCV must see each strip as a whole matrix.
            const cv::Mat strip(last - first, width, matrixType, in.data, in.step);
            cv::Mat result(last - first, width, matrixType, out.data, out.step);
            cv::medianBlur(strip, result, size);
            if (result.data != out.data)
                result.copyTo(cv::Mat(last - first, width, matrixType, out.data, out.step));
            for (int y = top; y < end; ++y)
                std::memcpy(line(target, y), out.ptr(y - first), rowBytes);
        }
    });
}

// The 3 x 3 median of integer samples written over the bitmap's own pixels: a fresh bitmap of a
// large scan costs a first touch of every page, which takes longer than the filter. Each row is
// copied before it is overwritten, so every pixel sees the original rows above, at and below it;
// the median does not depend on which way up the rows run, so they go in memory order. Each
// band of rows keeps copies of the rows just outside it, which its neighbours overwrite. All the
// memory is taken before the first pixel is written.
template <class T> void median3InPlace(FIBITMAP* dib, std::size_t samplesPerPixel) {
    const long height = static_cast<long>(FreeImage_GetHeight(dib));
    const std::size_t width = FreeImage_GetWidth(dib), n = width * samplesPerPixel;
    const int bands = kestro::detail::bandCount(height, width);
    const auto row = [&](long y) {
        return reinterpret_cast<T*>(FreeImage_GetScanLine(dib, static_cast<int>(y)));
    };
    // Per band: the rows above and below it, two working rows and the sorted columns.
    constexpr std::size_t kRows = 7;
    std::vector<T> memory(static_cast<std::size_t>(bands) * kRows * n);
    const auto buffer = [&](int band, std::size_t k) { return memory.data() + (band * kRows + k) * n; };
    for (int band = 0; band < bands; ++band) {
        const long begin = kestro::detail::bandBegin(height, bands, band);
        const long end = kestro::detail::bandBegin(height, bands, band + 1);
        if (begin > 0) std::memcpy(buffer(band, 0), row(begin - 1), n * sizeof(T));
        if (end < height) std::memcpy(buffer(band, 1), row(end), n * sizeof(T));
    }
    kestro::detail::runBands(bands, [&](int band) {
        const long begin = kestro::detail::bandBegin(height, bands, band);
        const long end = kestro::detail::bandBegin(height, bands, band + 1);
        T *current = buffer(band, 2), *spare = buffer(band, 3);
        T *lo = buffer(band, 4), *mid = buffer(band, 5), *hi = buffer(band, 6);
        if (begin == end) return;
        std::memcpy(current, row(begin), n * sizeof(T));
        const T* above = begin > 0 ? buffer(band, 0) : current;
        for (long y = begin; y < end; ++y) {
            const T* below = y + 1 < end ? row(y + 1) : y + 1 < height ? buffer(band, 1) : current;
            kestro::detail::median3Row(above, current, below, row(y), n, samplesPerPixel, lo, mid, hi);
            if (y + 1 == end) break;
            std::memcpy(spare, row(y + 1), n * sizeof(T));
            above = current;
            std::swap(current, spare);
        }
    });
}

// cv::medianBlur written over the bitmap's own rows, in strips that stay in the cache, for sizes
// whose filter allocates nothing (so it cannot fail half way). Each strip reads size / 2 rows
// beyond it each way; the ones above it were overwritten by the strip before, so the strip's
// input buffer carries the originals over from one strip to the next, and the rows just outside a
// band are kept before any band writes. Rows go in memory order: for integers the median does
// not depend on which way up they run.
void medianInPlaceStrips(FIBITMAP* dib, int matrixType, int size) {
    const long height = static_cast<long>(FreeImage_GetHeight(dib));
    const int width = static_cast<int>(FreeImage_GetWidth(dib));
    const size_t rowBytes = CV_ELEM_SIZE(matrixType) * static_cast<size_t>(width);
    const long reach = std::min<long>(size / 2, height);
    constexpr size_t kStripBytes = 512 * 1024;
    const long core =
        std::min<long>(height, std::max<long>(4 * reach, static_cast<long>(kStripBytes / rowBytes)));
    const size_t stripBytes = static_cast<size_t>(core + 2 * reach) * rowBytes;
    const int bands = kestro::detail::bandCount(height, static_cast<size_t>(width));
    // Per band: the rows above and below it, then the strip's input and output.
    const size_t keptBytes = 2 * static_cast<size_t>(reach) * rowBytes, perBand = keptBytes + 2 * stripBytes;
    std::vector<unsigned char> memory(perBand * static_cast<size_t>(bands));
    const auto row = [&](long y) { return FreeImage_GetScanLine(dib, static_cast<int>(y)); };
    const auto begin = [&](int band) { return kestro::detail::bandBegin(height, bands, band); };
    const auto above = [&](int band) { return memory.data() + perBand * static_cast<size_t>(band); };
    const auto below = [&](int band) { return above(band) + keptBytes / 2; };
    for (int band = 0; band < bands; ++band) {
        for (long y = std::max(0L, begin(band) - reach); y < begin(band); ++y)
            std::memcpy(above(band) + (y - (begin(band) - reach)) * rowBytes, row(y), rowBytes);
        for (long y = begin(band + 1); y < std::min(height, begin(band + 1) + reach); ++y)
            std::memcpy(below(band) + (y - begin(band + 1)) * rowBytes, row(y), rowBytes);
    }
    kestro::detail::runBands(bands, [&](int band) {
        const long b0 = begin(band), b1 = begin(band + 1);
        unsigned char* in = below(band) + keptBytes / 2;
        unsigned char* out = in + stripBytes;
        const auto original = [&](long y) -> const unsigned char* {
            if (y < b0) return above(band) + (y - (b0 - reach)) * rowBytes;
            if (y >= b1) return below(band) + (y - b1) * rowBytes;
            return row(y);
        };
        long heldFirst = 0, heldLast = 0; // the original rows `in` holds
        for (long top = b0; top < b1; top += core) {
            const long end = std::min(b1, top + core);
            const long first = std::max(0L, top - reach), last = std::min(height, end + reach);
            long from = first;
            if (top > b0) {
                std::memmove(in, in + (first - heldFirst) * rowBytes, (heldLast - first) * rowBytes);
                from = heldLast;
            }
            for (long y = from; y < last; ++y)
                std::memcpy(in + (y - first) * rowBytes, original(y), rowBytes);
            heldFirst = first;
            heldLast = last;
            const int rows = static_cast<int>(last - first);
            const cv::Mat strip(rows, width, matrixType, in, rowBytes);
            cv::Mat result(rows, width, matrixType, out, rowBytes);
            cv::medianBlur(strip, result, size);
            for (long y = top; y < end; ++y)
                std::memcpy(row(y), result.ptr(static_cast<int>(y - first)), rowBytes);
        }
    });
}

// Whether Median(size) of this matrix type runs in place, and does so.
bool medianInPlace(FIBITMAP* dib, int matrixType, int size) {
    const bool integers =
        matrixType == CV_8UC1 || matrixType == CV_8UC3 || matrixType == CV_16UC1 || matrixType == CV_16SC1;
    if (size == 5 && integers) {
        medianInPlaceStrips(dib, matrixType, size);
        return true;
    }
    if (size != 3) return false;
    switch (matrixType) {
    case CV_8UC1:
        median3InPlace<std::uint8_t>(dib, 1);
        return true;
    case CV_8UC3:
        median3InPlace<std::uint8_t>(dib, 3);
        return true;
    case CV_16UC1:
        median3InPlace<std::uint16_t>(dib, 1);
        return true;
    case CV_16SC1:
        median3InPlace<std::int16_t>(dib, 1);
        return true;
    default:
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Geometry

int DalvoImage::rotate(int angle, unsigned long background) {
    const RotationBackground bk = rotationBackground(getImageType(), background);
    const int result = fipImage::rotate(angle / 100.0, background ? &bk : nullptr);
    CString entry;
    entry.Format(L"Rotatation of %.2f Degrees", angle / 100.0);
    AddPreprocessStr(entry);
    return result;
}

int DalvoImage::rescale(unsigned width, unsigned height) {
    const int result = fipImage::rescale(width, height, FILTER_BILINEAR);
    CString entry;
    entry.Format(L"Resize to %d width by %d height", static_cast<int>(width), static_cast<int>(height));
    AddPreprocessStr(entry);
    return result;
}

BOOL DalvoImage::flipVertical() {
    const BOOL result = fipImage::flipVertical();
    AddPreprocessStr(L"Flip Vertically");
    return result;
}

BOOL DalvoImage::flipHorizontal() {
    const BOOL result = fipImage::flipHorizontal();
    AddPreprocessStr(L"Flip Horizontally");
    return result;
}

int DalvoImage::crop(const CRect& rectangle) {
    int result = 0;
    if (kestro::detail::cropInPlace(m_dib, rectangle.left, rectangle.top, rectangle.right,
                                    rectangle.bottom)) {
        m_modified = TRUE;
        result = 1;
    } else if (m_dib) {
        FIBITMAP* part =
            FreeImage_Copy(m_dib, rectangle.left, rectangle.top, rectangle.right, rectangle.bottom);
        if (part) result = replace(part) ? 1 : 0;
    }
    // Rasters handed out before show the old size; callers ask again after a crop.
    dropRasterCache();
    AddPreprocessStr(L"Crop");
    return result;
}

// ---------------------------------------------------------------------------------------------
// Tone

BOOL DalvoImage::invertPixels() {
    const BOOL result = fipWinImage::invertPixels();
    AddPreprocessStr(L"invertPixels");
    return result;
}

int DalvoImage::apply16BitLUT(unsigned short* table) {
    if (getImageType() != FIT_UINT16) return 1;
    if (!FreeImage_HasPixels(m_dib) || !table) return 0;
    setModified(TRUE);
    const unsigned width = getWidth(), height = getHeight();
    // The table is only read; each band of threads rewrites its own scan lines.
    kestro::detail::parallelRows(height, width, [&](long first, long end) {
        for (long y = first; y < end; ++y) {
            WORD* pixel = reinterpret_cast<WORD*>(FreeImage_GetScanLine(m_dib, static_cast<int>(y)));
            unsigned x = 0;
            // Four independent lookups per step keep several table reads in flight.
            for (; x + 4 <= width; x += 4) {
                const WORD a = table[pixel[x]], b = table[pixel[x + 1]], c = table[pixel[x + 2]],
                           d = table[pixel[x + 3]];
                pixel[x] = a;
                pixel[x + 1] = b;
                pixel[x + 2] = c;
                pixel[x + 3] = d;
            }
            for (; x < width; ++x)
                pixel[x] = table[pixel[x]];
        }
    });
    return 1;
}

int DalvoImage::ContrastAve(int percent) {
    int result;
    if (getImageType() == FIT_UINT16) {
        if (!FreeImage_HasPixels(m_dib)) return 0;
        result = apply16BitLUT(toneTable(percent, true).get());
    } else {
        if (!m_dib) return 0;
        result = adjustContrast(percent);
    }
    if (result == 1) {
        CString entry;
        entry.Format(L"Contrast: Average %d", percent);
        AddPreprocessStr(entry);
    }
    return result;
}

int DalvoImage::Intensity(int percent) {
    int result;
    if (getImageType() == FIT_UINT16) {
        if (!FreeImage_HasPixels(m_dib)) return 0;
        result = apply16BitLUT(toneTable(percent, false).get());
    } else {
        if (!m_dib) return 0;
        result = adjustBrightness(percent);
    }
    if (result) {
        CString entry;
        entry.Format(L"Brighten: %d", percent);
        AddPreprocessStr(entry);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// Filters

int DalvoImage::Median(int size) {
    const int matrixType = kestro::detail::matrixTypeOf(m_dib);
    // The bitmap's other attributes become those of the bitmap the matrix bridge would copy back.
    std::unique_ptr<FIBITMAP, void (*)(FIBITMAP*)> fresh(
        matrixType >= 0 ? kestro::detail::allocateForMatrix(matrixType, 1, 1) : nullptr, FreeImage_Unload);
    if (fresh && medianInPlace(m_dib, matrixType, size)) {
        kestro::detail::takeAttributes(m_dib, fresh.get());
        releaseDisplayBitmap();
        m_modified = TRUE;
    } else if (matrixType >= 0) {
        // The result is the bitmap the matrix bridge would copy back (its palette, resolution
        // and metadata are FreeImage's defaults), filled without a matrix of the whole image.
        std::unique_ptr<FIBITMAP, void (*)(FIBITMAP*)> target(
            kestro::detail::allocateForMatrix(matrixType, static_cast<int>(getWidth()),
                                              static_cast<int>(getHeight())),
            FreeImage_Unload);
        if (target) {
            medianInStrips(m_dib, target.get(), matrixType, size);
            fipWinImage::clear();
            replace(target.release());
        } else {
            fipWinImage::clear(); // the bridge drops the old bitmap before it allocates
        }
    } else {
        // No matrix form: the bridge leaves the source empty, and OpenCV refuses it.
        cv::Mat source;
        copytoOpenCV(source);
        cv::Mat destination = source.clone();
        cv::medianBlur(source, destination, size);
        copyFromOpenCV(destination);
    }
    CString entry;
    entry.Format(L"Noise Reduction: Median %dX%d", size, size);
    AddPreprocessStr(entry);
    return 0;
}

int DalvoImage::Average(int size) {
    CString entry;
    entry.Format(L"Blur: Average %dX%d", size, size);
    AddPreprocessStr(entry);
    return 0;
}

int DalvoImage::ContrastMed(int value) {
    CString entry;
    entry.Format(L"Contrast: Median %d", value / 10);
    AddPreprocessStr(entry);
    return 0;
}

int DalvoImage::Sharpness(int value) {
    CString entry;
    entry.Format(L"Sharpen: %d", value / 10);
    AddPreprocessStr(entry);
    return 0;
}

int DalvoImage::Gamma(double) {
    return 0;
}

int DalvoImage::Threshold(int low, int high) {
    CString entry;
    entry.Format(L"Threshold - Low: %d  |  High: %d", low, high);
    AddPreprocessStr(entry);
    return 0;
}

int DalvoImage::GrayScale(int bitsPerPixel) {
    CString entry;
    entry.Format(L"Gray Scale to %d Bits Per Pixel", bitsPerPixel);
    AddPreprocessStr(entry);
    return 0;
}

int DalvoImage::HistoEqualize() {
    AddPreprocessStr(L"Equalize");
    return 0;
}

int DalvoImage::Emboss(int, int direction) {
    CString entry;
    entry.Format(L"Emboss : %d - Light Direction ", direction);
    AddPreprocessStr(entry);
    return 0;
}

int DalvoImage::Convolution(void*) {
    AddPreprocessStr(L"Spatial filter");
    return 0;
}

int DalvoImage::ConvolutionExt(void*) {
    return 0;
}
