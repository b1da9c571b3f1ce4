#include "analysis/gel/Internal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace kestro::gel {

double SizeCalibration::sizeAt(double distance, bool* extrapolated) const {
    if (extrapolated) *extrapolated = false;
    if (!valid() || sizes.size() != positions.size()) return 0;
    const std::vector<double>& x = positions;
    const size_t n = x.size();
    std::vector<double> y(n);
    for (size_t k = 0; k < n; ++k)
        y[k] = std::log10(sizes[k]);
    size_t k = 0;
    while (k + 2 < n && distance > x[k + 1])
        ++k;
    const bool outside = distance < x.front() || distance > x.back();
    if (extrapolated) *extrapolated = outside;
    const double h = x[k + 1] - x[k];
    const double t = (distance - x[k]) / h;
    if (fit == SizeFit::PiecewiseLinear || outside) return std::pow(10.0, y[k] + t * (y[k + 1] - y[k]));

    // Fritsch-Carlson tangents: the mean of the neighbouring secants (the secant at the ends),
    // zero where the secants change sign, and scaled back into the circle of radius 3 around
    // each segment's secant, which keeps the cubic monotone.
    std::vector<double> d(n - 1), m(n);
    for (size_t i = 0; i + 1 < n; ++i)
        d[i] = (y[i + 1] - y[i]) / (x[i + 1] - x[i]);
    m[0] = d[0];
    m[n - 1] = d[n - 2];
    for (size_t i = 1; i + 1 < n; ++i)
        m[i] = d[i - 1] * d[i] > 0 ? 0.5 * (d[i - 1] + d[i]) : 0.0;
    for (size_t i = 0; i + 1 < n; ++i) {
        if (d[i] == 0) {
            m[i] = m[i + 1] = 0;
            continue;
        }
        const double a = m[i] / d[i], b = m[i + 1] / d[i];
        if (a * a + b * b > 9) {
            const double s = 3 / std::sqrt(a * a + b * b);
            m[i] = s * a * d[i];
            m[i + 1] = s * b * d[i];
        }
    }
    const double t2 = t * t, t3 = t2 * t;
    const double v = (2 * t3 - 3 * t2 + 1) * y[k] + (t3 - 2 * t2 + t) * h * m[k] +
                     (-2 * t3 + 3 * t2) * y[k + 1] + (t3 - t2) * h * m[k + 1];
    return std::pow(10.0, v);
}

std::vector<double> SizeCalibration::leaveOneOut() const {
    std::vector<double> out;
    if (positions.size() < 3 || sizes.size() != positions.size()) return out;
    for (size_t k = 0; k < positions.size(); ++k) {
        SizeCalibration c = *this;
        c.positions.erase(c.positions.begin() + static_cast<std::ptrdiff_t>(k));
        c.sizes.erase(c.sizes.begin() + static_cast<std::ptrdiff_t>(k));
        out.push_back(c.sizeAt(positions[k]));
    }
    return out;
}

namespace detail {

// Which ladder bands go with which sizes, as (band, size) index pairs. Both lists run from the
// top; the shorter one is paired in order with a part of the longer one. Migration is a smooth
// function of log size, so the logarithm of the slope of log10(size) against distance, segment
// by segment, runs smoothly too, and a band paired with the wrong size makes it jump: the
// pairing kept has the least sum of its squared second differences (its first differences when
// only three pairs are kept). Leaving out the longer list's bottom entries costs a little less
// than others, as the smallest fragments run off the gel or fade first, which decides between
// pairings the spacing cannot tell apart. Fewer than three pairs, more than 24 left out, or lists
// too long to search (its memory grows as pairs times (left out + 1) cubed) are paired from the
// top, and searched is then false.
std::vector<std::pair<size_t, size_t>> pairLadder(const std::vector<double>& positions,
                                                  const std::vector<double>& sizes, bool& searched) {
    const size_t k = positions.size(), m = sizes.size();
    const bool bandsShorter = k <= m;
    const size_t n = std::min(k, m), N = std::max(k, m), D = N - n + 1;
    // Pair t of the shorter list with entry t + d of the longer one.
    const auto pairOf = [&](size_t t, size_t d) {
        return bandsShorter ? std::make_pair(t, t + d) : std::make_pair(t + d, t);
    };
    std::vector<std::pair<size_t, size_t>> pairs;
    searched = !(n < 3 || D == 1 || D > 25 || n * D * D * D > 4000000);
    if (!searched) {
        for (size_t t = 0; t < n; ++t)
            pairs.push_back({t, t});
        return pairs;
    }
    // Log slope from pair t (offset d0) to pair t + 1 (offset d1).
    const auto g = [&](size_t t, size_t d0, size_t d1) {
        const auto [b0, s0] = pairOf(t, d0);
        const auto [b1, s1] = pairOf(t + 1, d1);
        return std::log(std::log10(sizes[s0] / sizes[s1]) / (positions[b1] - positions[b0]));
    };
    const auto skip = [&](size_t from, size_t to) { // entries from..to-1 of the longer list left out
        double c = 0;
        for (size_t i = from; i < to; ++i)
            c += 0.02 * static_cast<double>(N - 1 - i) / static_cast<double>(N);
        return c;
    };
    // cost[(t, a, b, c)]: pairs 0..t placed at offsets c, b, a for pairs t - 2, t - 1, t.
    const double none = std::numeric_limits<double>::infinity();
    const auto at = [&](size_t t, size_t a, size_t b, size_t c) { return ((t * D + a) * D + b) * D + c; };
    std::vector<double> cost(n * D * D * D, none);
    std::vector<unsigned char> back(n * D * D * D, 0);
    for (size_t c = 0; c < D; ++c)
        for (size_t b = c; b < D; ++b)
            for (size_t a = b; a < D; ++a)
                cost[at(2, a, b, c)] = skip(0, c) + skip(1 + c, 1 + b) + skip(2 + b, 2 + a);
    for (size_t t = 2; t + 1 < n; ++t)
        for (size_t c = 0; c < D; ++c)
            for (size_t b = c; b < D; ++b)
                for (size_t a = b; a < D; ++a) {
                    const double here = cost[at(t, a, b, c)];
                    if (here == none) continue;
                    const double g2 = g(t - 2, c, b), g1 = g(t - 1, b, a);
                    for (size_t e = a; e < D; ++e) {
                        const double bend = g(t, a, e) - 2 * g1 + g2;
                        const double next = here + bend * bend + skip(t + 1 + a, t + 1 + e);
                        if (next < cost[at(t + 1, e, a, b)]) {
                            cost[at(t + 1, e, a, b)] = next;
                            back[at(t + 1, e, a, b)] = static_cast<unsigned char>(c);
                        }
                    }
                }
    std::vector<size_t> offset(n, 0);
    double best = none;
    for (size_t c = 0; c < D; ++c)
        for (size_t b = c; b < D; ++b)
            for (size_t a = b; a < D; ++a) {
                double total = cost[at(n - 1, a, b, c)] + skip(n + a, N);
                if (n == 3) total += std::pow(g(1, b, a) - g(0, c, b), 2);
                if (total < best) {
                    best = total;
                    offset[n - 1] = a;
                    offset[n - 2] = b;
                    offset[n - 3] = c;
                }
            }
    for (size_t t = n - 1; t >= 3; --t)
        offset[t - 3] = back[at(t, offset[t], offset[t - 1], offset[t - 2])];
    for (size_t t = 0; t < n; ++t)
        pairs.push_back(pairOf(t, offset[t]));
    return pairs;
}

std::vector<double> missingLadderRows(const std::vector<double>& distances,
                                      const std::vector<double>& sizes) {
    std::vector<double> rows;
    if (sizes.size() <= distances.size()) return rows;
    bool searched = false;
    const std::vector<std::pair<size_t, size_t>> pairs = pairLadder(distances, sizes, searched);
    // Paired from the top, the pairing says nothing about where a size is missing.
    if (!searched) return rows;
    SizeCalibration c;
    for (const auto& [band, size] : pairs) {
        c.positions.push_back(distances[band]);
        c.sizes.push_back(sizes[size]);
    }
    for (size_t t = 0; t + 1 < pairs.size(); ++t)
        for (size_t k = pairs[t].second + 1; k < pairs[t + 1].second; ++k) {
            // Between two of its nodes the monotone spline falls from one size to the other.
            double lo = c.positions[t], hi = c.positions[t + 1];
            for (int i = 0; i < 60; ++i) {
                const double mid = 0.5 * (lo + hi);
                (c.sizeAt(mid) > sizes[k] ? lo : hi) = mid;
            }
            rows.push_back(0.5 * (lo + hi));
        }
    return rows;
}

} // namespace detail

namespace {

using detail::pairLadder;

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

} // namespace

namespace {

void checkSizes(const std::vector<double>& sizes) {
    for (size_t k = 0; k < sizes.size(); ++k)
        if (!(sizes[k] > 0) || !std::isfinite(sizes[k]) || (k > 0 && !(sizes[k] < sizes[k - 1])))
            throw ArgumentError("ladder sizes must be finite, positive and falling, largest first");
}

// The calibration of one ladder lane, with the warnings its pairing and spacing call for; the
// warnings name the lane when the gel has several ladders.
SizeCalibration fitLadder(Analysis& analysis, int ladderLane, const std::vector<double>& sizes, SizeFit fit,
                          bool nameLane) {
    if (ladderLane < 0 || ladderLane >= static_cast<int>(analysis.lanes.size()))
        throw ArgumentError("there is no ladder lane " +
                            std::to_string(static_cast<long long>(ladderLane) + 1) +
                            " (lanes found: " + std::to_string(analysis.lanes.size()) + ")");
    const Lane& ladder = analysis.lanes[static_cast<size_t>(ladderLane)];
    const size_t n = std::min(sizes.size(), ladder.bands.size());
    if (n < 2)
        throw ArgumentError("a size calibration needs two ladder bands with sizes at least; lane " +
                            std::to_string(ladderLane + 1) + " has " + std::to_string(ladder.bands.size()) +
                            " bands");
    const std::string which =
        nameLane ? "the ladder lane " + std::to_string(ladderLane + 1) : "the ladder lane";
    // Migration distance: rows below the top of the lane's tier.
    std::vector<double> distances;
    for (const Band& b : ladder.bands)
        distances.push_back(b.peakY - ladder.box.top);
    bool searched = false;
    const std::vector<std::pair<size_t, size_t>> pairs = pairLadder(distances, sizes, searched);
    SizeCalibration c;
    c.ladderLane = ladderLane;
    c.tier = ladder.tier;
    c.centre = ladder.centre;
    c.fit = fit;
    for (const auto& [band, size] : pairs) {
        c.positions.push_back(distances[band]);
        c.sizes.push_back(sizes[size]);
        c.bands.push_back(static_cast<int>(band));
        c.sizeIndices.push_back(static_cast<int>(size));
    }
    if (sizes.size() != ladder.bands.size()) {
        std::string left;
        size_t named = 0, more = 0;
        for (size_t i = 0, t = 0; i < std::max(sizes.size(), ladder.bands.size()); ++i) {
            const bool bandsLeft = ladder.bands.size() > sizes.size();
            if (t < pairs.size() && (bandsLeft ? pairs[t].first : pairs[t].second) == i)
                ++t;
            else if (++named <= 12)
                left += (left.empty() ? "" : ", ") + (bandsLeft ? std::to_string(i + 1) : number(sizes[i]));
            else
                ++more;
        }
        if (more > 0) left += " and " + std::to_string(more) + " more";
        detail::addWarning(
            analysis, "ladder-count",
            which + " has " + std::to_string(ladder.bands.size()) + " bands for " +
                std::to_string(sizes.size()) + " sizes: paired " +
                (searched ? "where log(size) runs smoothest against distance" : "from the top") +
                ", without " + (ladder.bands.size() > sizes.size() ? "its bands " : "the sizes ") + left);
    }
    // A jump in the spacing of log(size) against distance (a segment 2.5 times as steep or as
    // flat as the one before) is a band missed, or one too many, near it.
    for (size_t t = 2; t < c.positions.size(); ++t) {
        const double before =
            std::log10(c.sizes[t - 2] / c.sizes[t - 1]) / (c.positions[t - 1] - c.positions[t - 2]);
        const double after = std::log10(c.sizes[t - 1] / c.sizes[t]) / (c.positions[t] - c.positions[t - 1]);
        if (std::fabs(std::log(after / before)) > std::log(2.5)) {
            detail::addWarning(analysis, "ladder-spacing",
                               (nameLane ? which + "'s" : std::string("the ladder's")) +
                                   " spacing of log(size) against distance jumps at size " +
                                   number(c.sizes[t - 1]) + ": a band may be missed or extra there");
            break;
        }
    }
    return c;
}

} // namespace

void calibrate(Analysis& analysis, int ladderLane, const std::vector<double>& sizes, SizeFit fit) {
    checkSizes(sizes);
    const SizeCalibration c = fitLadder(analysis, ladderLane, sizes, fit, false);
    for (Lane& l : analysis.lanes)
        for (Band& b : l.bands)
            b.size = c.sizeAt(b.peakY - l.box.top, &b.extrapolated);
    analysis.calibration = c;
    analysis.calibrations = {c};
}

void calibrateTiers(Analysis& analysis, const std::vector<int>& ladderLanes, const std::vector<double>& sizes,
                    SizeFit fit, const std::vector<double>& masses) {
    checkSizes(sizes);
    if (!masses.empty() && masses.size() != sizes.size())
        throw ArgumentError("ladder masses pair with sizes one to one: " + std::to_string(masses.size()) +
                            " masses for " + std::to_string(sizes.size()) + " sizes");
    for (double m : masses)
        if (!(m > 0) || !std::isfinite(m)) throw ArgumentError("ladder masses must be finite and positive");
    std::vector<SizeCalibration> all;
    for (int lane : ladderLanes) {
        for (const SizeCalibration& c : all)
            if (c.ladderLane == lane)
                throw ArgumentError("ladder lane " + std::to_string(lane + 1) + " is given twice");
        all.push_back(fitLadder(analysis, lane, sizes, fit, ladderLanes.size() > 1));
    }
    std::stable_sort(all.begin(), all.end(), [](const SizeCalibration& a, const SizeCalibration& b) {
        return a.tier != b.tier ? a.tier < b.tier : a.centre < b.centre;
    });
    int tiers = 0;
    for (const Lane& l : analysis.lanes)
        tiers = std::max(tiers, l.tier + 1);
    for (int t = 0; t < tiers; ++t) {
        std::vector<const SizeCalibration*> here;
        for (const SizeCalibration& c : all)
            if (c.tier == t) here.push_back(&c);
        if (here.size() > 2)
            throw ArgumentError("tier " + std::to_string(t + 1) + " has " + std::to_string(here.size()) +
                                " ladder lanes; a tier takes one or two");
        for (Lane& l : analysis.lanes) {
            if (l.tier != t) continue;
            for (Band& b : l.bands) {
                const double d = b.peakY - l.box.top;
                b.size = 0;
                b.extrapolated = false;
                if (here.size() == 1) {
                    b.size = here[0]->sizeAt(d, &b.extrapolated);
                } else if (here.size() == 2) {
                    // The smile bends the migration across the gel: between two ladders a lane runs
                    // as the nearer one does, in proportion to its distance from each.
                    bool e0 = false, e1 = false;
                    const double s0 = here[0]->sizeAt(d, &e0), s1 = here[1]->sizeAt(d, &e1);
                    const double span = here[1]->centre - here[0]->centre;
                    const double w =
                        span > 0 ? std::clamp((l.centreAt(b.peakY) - here[0]->centre) / span, 0.0, 1.0) : 0.5;
                    b.size = std::pow(10.0, (1 - w) * std::log10(s0) + w * std::log10(s1));
                    b.extrapolated = e0 || e1;
                }
            }
        }
        if (here.empty() && !all.empty())
            detail::addWarning(analysis, "no-ladder",
                               "tier " + std::to_string(t + 1) +
                                   " has no ladder lane: its bands are not sized");
    }
    // Each ladder band read off the others: a band the fit cannot reach within 10% is a ladder
    // band missed, mispaired or misread.
    for (const SizeCalibration& c : all) {
        const std::vector<double> loo = c.leaveOneOut();
        double worst = 0;
        size_t at = 0;
        for (size_t k = 0; k < loo.size(); ++k)
            if (std::fabs(loo[k] / c.sizes[k] - 1) > worst) {
                worst = std::fabs(loo[k] / c.sizes[k] - 1);
                at = k;
            }
        if (worst > 0.1)
            detail::addWarning(analysis, "ladder-fit",
                               "the ladder lane " + std::to_string(c.ladderLane + 1) +
                                   " fits loosely: its band of size " + number(c.sizes[at]) + " is read as " +
                                   number(loo[at]) + " from the others (" +
                                   number(std::round(worst * 1000) / 10) + "% off)");
    }
    analysis.calibrations = all;
    analysis.calibration = all.empty() ? SizeCalibration() : all.front();
    analysis.massCurves.clear();
    if (masses.empty()) return;
    for (int t = 0; t < tiers; ++t) {
        MassCurve m;
        m.tier = t;
        double mv = 0, vv = 0, sm = 0, smm = 0;
        std::vector<std::pair<double, double>> points;
        for (const SizeCalibration& c : all) {
            if (c.tier != t) continue;
            const Lane& ladder = analysis.lanes[static_cast<size_t>(c.ladderLane)];
            for (size_t k = 0; k < c.bands.size(); ++k) {
                const Band& b = ladder.bands[static_cast<size_t>(c.bands[k])];
                if (b.saturated) {
                    ++m.saturatedLeftOut;
                    continue;
                }
                const double mass = masses[static_cast<size_t>(c.sizeIndices[k])];
                points.push_back({b.correctedVolume, mass});
                mv += mass * b.correctedVolume;
                vv += b.correctedVolume * b.correctedVolume;
                sm += mass;
                smm += mass * mass;
            }
        }
        if (points.empty() && m.saturatedLeftOut == 0) continue;
        m.points = static_cast<int>(points.size());
        if (vv > 0 && mv > 0) {
            m.slope = mv / vv;
            double residual = 0;
            for (const auto& [v, mass] : points)
                residual += (mass - m.slope * v) * (mass - m.slope * v);
            const double total = smm - sm * sm / static_cast<double>(points.size());
            m.rSquared = total > 0 ? 1 - residual / total : 0;
        } else {
            detail::addWarning(analysis, "no-mass-curve",
                               "tier " + std::to_string(t + 1) +
                                   " has no unsaturated ladder band to fit masses to");
        }
        for (Lane& l : analysis.lanes)
            if (l.tier == t)
                for (Band& b : l.bands)
                    b.mass = m.slope * b.correctedVolume;
        analysis.massCurves.push_back(m);
    }
}

} // namespace kestro::gel
