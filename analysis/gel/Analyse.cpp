#include "analysis/gel/Internal.h"

#include "image/DalvoImage.h"

#include <algorithm>

namespace kestro::gel {

namespace detail {

void addWarning(Analysis& a, const char* code, std::string text) {
    const auto at = std::lower_bound(a.warnings.begin(), a.warnings.end(), text,
                                     [](const Warning& w, const std::string& t) { return w.text < t; });
    if (at == a.warnings.end() || at->text != text) a.warnings.insert(at, Warning{code, std::move(text)});
}

} // namespace detail

std::vector<Band> Analysis::bands() const {
    std::vector<Band> all;
    for (const Lane& l : lanes)
        all.insert(all.end(), l.bands.begin(), l.bands.end());
    return all;
}

Analysis finishAnalysis(const PreparedGel& gel, const std::vector<Tier>& tiers, std::vector<Lane> lanes,
                        const Options& options) {
    Analysis a;
    a.width = gel.imageWidth();
    a.height = gel.imageHeight();
    a.maxValue = gel.maxValue();
    a.polarity = gel.polarity();
    a.polarityDetected = gel.polarityDetected();
    a.tiers = tiers;
    for (size_t k = 0; k < lanes.size(); ++k) {
        Lane& l = lanes[k];
        l.index = static_cast<int>(k);
        std::stable_sort(l.bands.begin(), l.bands.end(),
                         [](const Band& x, const Band& y) { return x.peakY < y.peakY; });
        for (Band& b : l.bands)
            b.lane = l.index;
        numberBands(l);
    }
    a.lanes = std::move(lanes);
    if (a.lanes.empty()) detail::addWarning(a, "no-lanes", "no lanes found");
    for (const Lane& l : a.lanes)
        for (const Band& b : l.bands)
            if (b.saturated)
                detail::addWarning(a, "saturated-bands", "saturated bands: their volumes are lower bounds");
    if (options.ladderLane >= 0) calibrate(a, options.ladderLane, options.ladderSizes, options.sizeFit);
    return a;
}

Analysis analyseLanes(const PreparedGel& gel, const std::vector<Tier>& tiers, std::vector<Lane> lanes,
                      const Options& options) {
    for (size_t k = 0; k < lanes.size(); ++k)
        lanes[k].index = static_cast<int>(k);
    findBands(gel, tiers, lanes, options);
    return finishAnalysis(gel, tiers, std::move(lanes), options);
}

Layout findLayout(const PreparedGel& gel, const Options& options) {
    Layout found;
    for (detail::TierLanes& t : detail::layout(gel.work(), options)) {
        found.tiers.push_back(t.tier);
        found.lanes.insert(found.lanes.end(), t.lanes.begin(), t.lanes.end());
    }
    return found;
}

Analysis analyse(const GreyView& grey, const Options& options) {
    const PreparedGel gel(grey, options);
    Layout found = findLayout(gel, options);
    return analyseLanes(gel, found.tiers, std::move(found.lanes), options);
}

Analysis analyse(const RasterImageGS16& raster, const Options& options) {
    Analysis a = analyse(greyView(raster), options);
    a.greyConversion = "grey values of the raster";
    return a;
}

Analysis analyse(const DalvoImage& image, const Options& options) {
    const GreyImage g = greyImage(image);
    Analysis a = analyse(g.view(), options);
    a.greyConversion = g.conversion;
    return a;
}

} // namespace kestro::gel
