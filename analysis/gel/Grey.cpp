#include "analysis/gel/Internal.h"

#include "analysis/ImageProcessing.h"
#include "image/DalvoImage.h"
#include "raster/detail/Parallel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kestro::gel {

namespace {

int luma(int r, int g, int b) {
    return (299 * r + 587 * g + 114 * b + 500) / 1000;
}

// One row of a view's samples as ints, clamped to the saturation level.
void readRow(const GreyView& v, int y, int x0, int count, int* out) {
    const auto* line = static_cast<const unsigned char*>(v.pixels) + y * v.stride;
    for (int x = 0; x < count; ++x) {
        int s = 0;
        switch (v.sample) {
        case GreyView::Sample::UInt8:
            s = line[x0 + x];
            break;
        case GreyView::Sample::UInt16: {
            std::uint16_t u;
            std::memcpy(&u, line + 2 * static_cast<size_t>(x0 + x), sizeof u);
            s = u;
            break;
        }
        case GreyView::Sample::Int32:
            std::memcpy(&s, line + 4 * static_cast<size_t>(x0 + x), sizeof s);
            break;
        }
        out[x] = std::clamp(s, 0, v.maxValue);
    }
}

// A figure's border or the padding about a scan is black or white along whole rows and
// columns, and a frame drawn about a figure's gel is a line of the other; the gel lies inside
// them. Lines at an edge whose pixels are all black or white but for this share (specks, the
// corner of a label) are margin. No more may be grey: on a gel cleared to black or white about
// its bands, a row through a band or two would pass for margin.
constexpr double kMarginOther = 0.02;
// The soft edge of a drawn mark (an anti-aliased character or line) is a pixel or two wide.
constexpr int kMarkEdge = 2;
// A JPEG rings about every sharp edge within its 8 x 8 blocks: past a margin's exact outermost
// line, a pixel within this share of the way from the margin's colour to the gel's level (or,
// for ink, this share of the range from black or white) still counts as that colour. Only where
// the gel's level lies this share of the range or more from the margin's colour: a dark gel
// beside a black margin, or a pale one beside white, cannot be told from a rung edge.
constexpr double kNearShare = 0.25;

// The image less its flat margin on each side. A gel keeps half of each dimension at least: an
// image flat across more than that is taken whole, and so are columns the margin would leave
// fewer than 16, or rows fewer than `leastRows`.
Region insideMargin(const GreyView& g, long long leastRows) {
    const int w = g.width, h = g.height;
    const size_t longest = static_cast<size_t>(std::max(w, h));
    // Line i from one side (rows from the top or bottom, columns from the left or right).
    std::vector<int> buffers((2 * kMarkEdge + 1) * longest);
    const auto read = [&](bool rows, bool fromEnd, int i, int* line) {
        const int at = fromEnd ? (rows ? h : w) - 1 - i : i;
        if (rows) {
            readRow(g, at, 0, w, line);
            return;
        }
        for (int y = 0; y < h; ++y)
            readRow(g, y, at, 1, &line[y]);
    };
    // The gel's level: the median of the image's middle half, every fourth pixel of every fourth
    // row, read once a margin has been found.
    int gelLevel = -1;
    const auto levelOfGel = [&] {
        if (gelLevel >= 0) return gelLevel;
        std::vector<int> middle, row(static_cast<size_t>(w));
        for (int y = h / 4; y < h - h / 4; y += 4) {
            readRow(g, y, w / 4, w - w / 2, row.data());
            for (int x = 0; x < w - w / 2; x += 4)
                middle.push_back(row[static_cast<size_t>(x)]);
        }
        const auto mid = middle.begin() + static_cast<std::ptrdiff_t>(middle.size() / 2);
        std::nth_element(middle.begin(), mid, middle.end());
        return gelLevel = middle.empty() ? g.maxValue / 2 : *mid;
    };
    // The middle one of `near` (the lines about it, null beyond the image) is the margin's colour,
    // black or white but for a few pixels; a grey pixel within kMarkEdge of ink is the soft edge of
    // a drawn mark and counts with it. A `rung` line counts pixels near the margin's colour or the
    // ink (kNearShare) as theirs.
    const auto flat = [&](int n, int* const* near, int ink, int colour, bool rung) {
        const double nearColour = rung ? kNearShare * std::abs(colour - levelOfGel()) : 0,
                     nearInk = rung ? kNearShare * g.maxValue : 0;
        const auto isInk = [&](int v) { return std::abs(v - ink) <= nearInk; };
        const int* line = near[kMarkEdge];
        if (rung) {
            // Near its ink, the gel may be as dark or as bright: a rung line is mostly margin.
            long long margin = 0;
            for (int x = 0; x < n; ++x)
                margin += std::abs(line[x] - colour) <= nearColour;
            if (2 * margin < n) return false;
        }
        const double allowed = kMarginOther * n;
        long long other = 0;
        for (int x = 0; x < n && other <= allowed; ++x) {
            if (line[x] == 0 || line[x] == g.maxValue || std::abs(line[x] - colour) <= nearColour) continue;
            bool mark = false;
            for (int j = 0; j <= 2 * kMarkEdge && !mark; ++j)
                for (int k = std::max(0, x - kMarkEdge);
                     near[j] && k <= std::min(n - 1, x + kMarkEdge) && !mark; ++k)
                    mark = isInk(near[j][k]);
            other += !mark;
        }
        return other <= allowed;
    };
    const auto margin = [&](bool rows, bool fromEnd) {
        const int all = rows ? h : w, n = rows ? w : h, most = all / 4;
        // Line L is kept in buffer L mod 2 kMarkEdge + 1: the lines about line i take one each.
        const auto kept = [&](int line) {
            return buffers.data() + static_cast<size_t>(line % (2 * kMarkEdge + 1)) * longest;
        };
        for (int line = 0; line <= kMarkEdge && line < all; ++line)
            read(rows, fromEnd, line, kept(line));
        int* near[2 * kMarkEdge + 1];
        const auto about = [&](int i) {
            for (int j = 0; j <= 2 * kMarkEdge; ++j) {
                const int line = i - kMarkEdge + j;
                near[j] = line >= 0 && line < all ? kept(line) : nullptr;
            }
        };
        about(0);
        const int* outer = kept(0);
        // The margin's colour: black or white, whichever the outermost line holds more of, the
        // other its ink; or a page of light grey (paper, a slide's ground), the outermost line
        // all one level within an eighth of the range of white but for a few pixels, its ink black.
        int ink =
            std::count(outer, outer + n, 0) >= std::count(outer, outer + n, g.maxValue) ? g.maxValue : 0;
        int colour = g.maxValue - ink;
        std::vector<int> levels(outer, outer + n);
        const auto mid = levels.begin() + static_cast<std::ptrdiff_t>(n / 2);
        std::nth_element(levels.begin(), mid, levels.end());
        if (const int page = *mid; page != 0 && page != g.maxValue && 8LL * page >= 7LL * g.maxValue &&
                                   std::count(outer, outer + n, page) >= (1 - kMarginOther) * n) {
            colour = page;
            ink = 0;
        }
        // A margin's outermost line is exact (a JPEG keeps a flat area so); lines within it may
        // have been rung by the edges and marks beside them.
        const auto mayRing = [&] { return std::abs(colour - levelOfGel()) >= kNearShare * g.maxValue; };
        int i = 0;
        while (i < most && (flat(n, near, ink, colour, false) ||
                            (i > 0 && mayRing() && flat(n, near, ink, colour, true)))) {
            ++i;
            if (i + kMarkEdge < all) read(rows, fromEnd, i + kMarkEdge, kept(i + kMarkEdge));
            about(i);
        }
        return i;
    };
    const int top = margin(true, false), bottom = margin(true, true);
    const int left = margin(false, false), right = margin(false, true);
    Region r{0, 0, w, h};
    if (h - top - bottom >= leastRows) r.y = top, r.height = h - top - bottom;
    if (w - left - right >= 16) r.x = left, r.width = w - left - right;
    return r;
}

size_t sampleBytes(GreyView::Sample s) {
    return s == GreyView::Sample::UInt8 ? 1 : s == GreyView::Sample::UInt16 ? 2 : 4;
}

// The background is the gel's own: a moving minimum that reached past the gel's side edge into
// the imager's dark frame would take the frame's level for the gel beside the edge, which would
// then read as bright as a lane, and a lane there would stand out of the gel on its far side only.
// So the minimum runs over the gel's columns alone (found as the tiers' are).
void backgroundOnGel(detail::Work& wk, int hw, int hh) {
    const int step = std::max(1, wk.h / 1024);
    const std::vector<long long> sums =
        detail::columnSums(wk.w, 0, wk.h - 1, step, [&](int y, long long* sum) {
            const int* r = wk.row(y);
            for (int x = 0; x < wk.w; ++x)
                sum[x] += r[x];
        });
    detail::Profile columns(static_cast<size_t>(wk.w));
    for (size_t x = 0; x < columns.size(); ++x)
        columns[x] = static_cast<double>(sums[x]) / ((wk.h + step - 1) / step);
    const std::pair<int, int> span = detail::onGel(columns, wk.darkest, std::max(4, wk.w / 64), 0.5);
    const int left = span.first, right = span.second;
    if (left == 0 && right == wk.w) {
        ImageProcessing().generateBGViaMinFilter(&wk.values, &wk.background, hw, hh);
        return;
    }
    const int gw = right - left;
    RasterImageGS16 gel(gw, wk.h), floor(gw, wk.h);
    kestro::detail::parallelRows(wk.h, static_cast<size_t>(gw), [&](long y0, long y1) {
        for (long y = y0; y < y1; ++y)
            std::copy_n(wk.row(static_cast<int>(y)) + left, gw, gel.pixels + static_cast<size_t>(y) * gw);
    });
    ImageProcessing().generateBGViaMinFilter(&gel, &floor, hw, hh);
    // Off the gel the background is the pixel itself: whatever subtracts it, clamped or not, finds
    // nothing there.
    kestro::detail::parallelRows(wk.h, static_cast<size_t>(wk.w), [&](long y0, long y1) {
        for (long y = y0; y < y1; ++y) {
            int* b = wk.background.pixels + static_cast<size_t>(y) * wk.w;
            std::copy_n(wk.row(static_cast<int>(y)), wk.w, b);
            std::copy_n(floor.pixels + static_cast<size_t>(y) * gw, gw, b + left);
        }
    });
}

} // namespace

const char* polarityName(Polarity polarity) {
    switch (polarity) {
    case Polarity::Auto:
        return "auto";
    case Polarity::BrightBands:
        return "bright bands";
    case Polarity::DarkBands:
        return "dark bands";
    }
    return "auto";
}

namespace {

// A sum of long longs held exactly as a count of 2^32 and a remainder below 2^32 each: the same
// in any order of adding, for up to 2^31 terms.
struct ExactSum {
    long long high = 0, low = 0;
    void add(long long v) {
        const long long unit = 1LL << 32;
        const long long q = v >= 0 ? v / unit : -((-v + unit - 1) / unit);
        high += q;
        low += v - q * unit;
    }
    void add(const ExactSum& o) {
        high += o.high;
        low += o.low;
    }
    long double value() const {
        return static_cast<long double>(high) * 4294967296.0L + static_cast<long double>(low);
    }
};

} // namespace

// A band is narrow: it stands out of the gel just above and below it on its own side, while the
// gel's edges, a frame about it and slow shading rise as far as they fall. Down every eighth
// column, each pixel twice less the pixels r rows above and below it, at r of a hundredth, a
// fiftieth and a twenty-fifth of the height (two rows at least: a band a little higher than r
// rises as far as it falls at r, and is narrow at twice r): bright bands where these are skewed
// up (their third central moment is not negative). The spread of the histogram about its
// median, read before, took a dark frame's pixels for dark bands once bright bands clipped at
// the saturation level; a band clipped flat has corners both ways and leaves the skew to the
// rest. The moments come from exact integer sums, so every thread count gives the same answer.
Polarity detectPolarity(const int* pixels, int width, int height, int maxValue) {
    if (maxValue < 1 || maxValue > 65535)
        throw ArgumentError("the saturation level " + std::to_string(maxValue) + " is not within 1 .. 65535");
    if (width > 0 && height > 0 && !pixels) throw ArgumentError("no pixels for the polarity");
    const int reach = std::max(2, height / 100);
    if (width <= 0 || height <= 2 * reach) return Polarity::BrightBands;
    struct Sums {
        long long count = 0, first = 0;
        ExactSum second, third;
    };
    const int bands = kestro::detail::bandCount(height, static_cast<size_t>((width + 7) / 8) * 3);
    std::vector<Sums> partial(static_cast<size_t>(bands));
    kestro::detail::runBands(bands, [&](int band) {
        Sums& s = partial[static_cast<size_t>(band)];
        const long y0 = kestro::detail::bandBegin(height, bands, band),
                   y1 = kestro::detail::bandBegin(height, bands, band + 1);
        // Reach by reach, so that the three rows read stream down the image.
        for (int r = reach; r <= 4 * reach; r *= 2)
            for (long y = std::max<long>(y0, r); y < std::min<long>(y1, height - r); ++y) {
                const int* up = pixels + static_cast<size_t>(y - r) * static_cast<size_t>(width);
                const int* here = pixels + static_cast<size_t>(y) * static_cast<size_t>(width);
                const int* down = pixels + static_cast<size_t>(y + r) * static_cast<size_t>(width);
                // |d| is at most twice the saturation level, so a run of 512 cubes fits a long long.
                for (int x0 = 0; x0 < width; x0 += 8 * 512) {
                    long long second = 0, third = 0;
                    for (int x = x0; x < std::min(width, x0 + 8 * 512); x += 8) {
                        const long long d = 2LL * std::clamp(here[x], 0, maxValue) -
                                            std::clamp(up[x], 0, maxValue) - std::clamp(down[x], 0, maxValue);
                        ++s.count;
                        s.first += d;
                        second += d * d;
                        third += d * d * d;
                    }
                    s.second.add(second);
                    s.third.add(third);
                }
            }
    });
    Sums all;
    for (const Sums& s : partial) {
        all.count += s.count;
        all.first += s.first;
        all.second.add(s.second);
        all.third.add(s.third);
    }
    if (all.count == 0) return Polarity::BrightBands;
    const long double n = static_cast<long double>(all.count), mean = static_cast<long double>(all.first) / n;
    const long double skew =
        all.third.value() / n - 3 * mean * all.second.value() / n + 2 * mean * mean * mean;
    return skew >= 0 ? Polarity::BrightBands : Polarity::DarkBands;
}

GreyImage greyImage(const DalvoImage& image) {
    if (!image.isValid() || image.getWidth() == 0 || image.getHeight() == 0)
        throw ArgumentError("the image is empty");
    GreyImage g;
    g.width = static_cast<int>(image.getWidth());
    g.height = static_cast<int>(image.getHeight());
    g.pixels.resize(static_cast<size_t>(g.width) * g.height);
    const FREE_IMAGE_TYPE type = image.getImageType();
    const unsigned bpp = image.getBitsPerPixel();
    const RGBQUAD* palette = image.getPalette();
    bool identity = palette != nullptr && image.getPaletteSize() >= 256 * sizeof(RGBQUAD);
    if (palette && bpp == 8)
        for (int i = 0; i < 256 && identity; ++i)
            identity = palette[i].rgbRed == i && palette[i].rgbGreen == i && palette[i].rgbBlue == i;
    if (type == FIT_UINT16) {
        g.maxValue = 65535;
        g.conversion = "16-bit grey values as stored";
    } else if (type == FIT_RGB16) {
        g.maxValue = 65535;
        g.conversion = "luma of 16-bit RGB: (299 R + 587 G + 114 B + 500) / 1000";
    } else if (type == FIT_BITMAP && bpp == 8) {
        g.maxValue = 255;
        g.conversion = !palette || identity ? "8-bit grey values as stored"
                                            : "8-bit palette indices looked up, luma of the palette colour";
    } else if (type == FIT_BITMAP && (bpp == 24 || bpp == 32)) {
        g.maxValue = 255;
        g.conversion = "luma of 8-bit RGB: (299 R + 587 G + 114 B + 500) / 1000";
    } else {
        throw ArgumentError("a " + std::to_string(bpp) +
                            "-bit image of this type has no grey form for gel analysis");
    }
    for (int y = 0; y < g.height; ++y) {
        const BYTE* line = image.getScanLine(static_cast<unsigned>(g.height - 1 - y));
        int* out = &g.pixels[static_cast<size_t>(y) * g.width];
        for (int x = 0; x < g.width; ++x) {
            if (type == FIT_UINT16) {
                out[x] = reinterpret_cast<const WORD*>(line)[x];
            } else if (type == FIT_RGB16) {
                const FIRGB16& c = reinterpret_cast<const FIRGB16*>(line)[x];
                out[x] = luma(c.red, c.green, c.blue);
            } else if (bpp == 8) {
                const BYTE i = line[x];
                out[x] = !palette || identity
                             ? i
                             : luma(palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue);
            } else {
                const BYTE* c = line + x * (bpp / 8);
                out[x] = luma(c[FI_RGBA_RED], c[FI_RGBA_GREEN], c[FI_RGBA_BLUE]);
            }
        }
    }
    return g;
}

GreyView greyView(const RasterImageGS16& raster) {
    return GreyView::of(raster.pixels, raster.width, raster.height,
                        static_cast<std::ptrdiff_t>(raster.width) * static_cast<std::ptrdiff_t>(sizeof(int)),
                        raster.maxPixelValue);
}

PreparedGel::PreparedGel(const GreyView& g, const Options& o) {
    if (!g.pixels || g.width <= 0 || g.height <= 0) throw ArgumentError("the image is empty");
    if (std::abs(g.stride) <
        static_cast<std::ptrdiff_t>(sampleBytes(g.sample) * static_cast<size_t>(g.width)))
        throw ArgumentError("the rows of the grey view overlap: its stride is shorter than a row");
    // The analysis keeps histograms of every grey level.
    if (g.maxValue < 1 || g.maxValue > 65535)
        throw ArgumentError("the saturation level " + std::to_string(g.maxValue) +
                            " is not within 1 .. 65535");
    if (o.tiers < 0) throw ArgumentError("the tier count cannot be negative");
    if (o.laneCount < 0) throw ArgumentError("the lane count cannot be negative");
    Region r = o.region;
    if (r.width == 0) r = insideMargin(g, 16LL * std::max(1, o.tiers));
    if (r.x < 0 || r.y < 0 || r.width < 1 || r.height < 1 || r.x > g.width - r.width ||
        r.y > g.height - r.height)
        throw ArgumentError("the region " + std::to_string(r.x) + " " + std::to_string(r.y) + " " +
                            std::to_string(r.width) + " x " + std::to_string(r.height) +
                            " does not lie inside the image");
    if (r.width < 16 || r.height / 16 < std::max(1, o.tiers))
        throw ArgumentError("the region is too small for a gel (16 x 16 pixels per tier at least)");

    auto wk = std::make_shared<Work>(r.width, r.height);
    wk->imageWidth = g.width;
    wk->imageHeight = g.height;
    wk->region = r;
    wk->x0 = r.x;
    wk->y0 = r.y;
    wk->w = r.width;
    wk->h = r.height;
    wk->maxValue = g.maxValue;
    kestro::detail::parallelRows(r.height, static_cast<size_t>(r.width), [&](long y0, long y1) {
        for (long y = y0; y < y1; ++y)
            readRow(g, r.y + static_cast<int>(y), r.x, r.width,
                    wk->values.pixels + static_cast<size_t>(y) * r.width);
    });

    wk->polarity = o.polarity;
    if (wk->polarity == Polarity::Auto) {
        wk->polarity = detectPolarity(wk->values.pixels, r.width, r.height, g.maxValue);
        wk->polarityDetected = true;
    }
    if (wk->polarity == Polarity::DarkBands)
        kestro::detail::parallelRows(r.height, static_cast<size_t>(r.width), [&](long y0, long y1) {
            int* p = wk->values.pixels;
            for (size_t i = static_cast<size_t>(y0) * r.width, n = static_cast<size_t>(y1) * r.width; i < n;
                 ++i)
                p[i] = g.maxValue - p[i];
        });
    const int hw = o.backgroundHalfWidth > 0 ? o.backgroundHalfWidth : std::max(2, r.width / 16);
    const int hh = o.backgroundHalfHeight > 0 ? o.backgroundHalfHeight : std::max(2, r.height / 16);
    wk->darkest = detail::darkestLevel(*wk);
    backgroundOnGel(*wk, hw, hh);
    m_work = std::move(wk);
}

int PreparedGel::imageWidth() const {
    return m_work->imageWidth;
}
int PreparedGel::imageHeight() const {
    return m_work->imageHeight;
}
const Region& PreparedGel::region() const {
    return m_work->region;
}
int PreparedGel::maxValue() const {
    return m_work->maxValue;
}
Polarity PreparedGel::polarity() const {
    return m_work->polarity;
}
bool PreparedGel::polarityDetected() const {
    return m_work->polarityDetected;
}
int PreparedGel::value(int x, int y) const {
    return m_work->row(y - m_work->y0)[x - m_work->x0];
}
int PreparedGel::background(int x, int y) const {
    return m_work->bgRow(y - m_work->y0)[x - m_work->x0];
}

} // namespace kestro::gel
