#include "calibrate/calibrate.h"

#include "fmt_raw/raw.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/numtext.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace rawdat::calib {

namespace {

constexpr double kDeg = 180.0 / 3.14159265358979323846;
// Filtered height over its noise that makes a peak.
constexpr double kMinSignificance = 5.0;
// The strongest peaks that seed the search, and the hypotheses refined.
constexpr int kSeeds = 8;
constexpr int kRefined = 30;
// Systematic uncertainty added to every centre, degrees.
constexpr double kCentreFloor = 0.0003;

double twoTheta(double lambda, double d)
{
    const double s = lambda / (2.0 * d);
    return s < 1.0 ? 2.0 * std::asin(s) * kDeg : NAN;
}

// A polynomial in u = (channel - mid) / half.
struct Poly {
    std::vector<double> c;
    double mid = 0.0, half = 1.0;
    double operator()(double ch) const
    {
        const double u = (ch - mid) / half;
        double v = 0.0;
        for (auto it = c.rbegin(); it != c.rend(); ++it)
            v = v * u + *it;
        return v;
    }
    double slope(double ch) const
    {
        const double u = (ch - mid) / half;
        double v = 0.0;
        for (std::size_t k = c.size(); k-- > 1;)
            v = v * u + k * c[k];
        return v / half;
    }
};

Poly fitPoly(const std::vector<double>& ch, const std::vector<double>& tt, int degree, double mid, double half)
{
    const int n = static_cast<int>(ch.size());
    Eigen::MatrixXd a(n, degree + 1);
    Eigen::VectorXd b(n);
    for (int i = 0; i < n; ++i) {
        const double u = (ch[i] - mid) / half;
        double p = 1.0;
        for (int k = 0; k <= degree; ++k, p *= u)
            a(i, k) = p;
        b[i] = tt[i];
    }
    const Eigen::VectorXd x = a.colPivHouseholderQr().solve(b);
    Poly poly;
    poly.c.assign(x.data(), x.data() + x.size());
    poly.mid = mid;
    poly.half = half;
    return poly;
}

struct Assignment {
    std::vector<int> line; // per peak: index into the K-alpha-1 lines, or -1
    std::vector<char> second; // per peak: matched to a K-alpha-2 line instead
    int count = 0;         // peaks matched, to either line
    double rms = 0.0;      // of the polynomial, channels
    Poly poly;
};

// A line a peak can be: the K-alpha-1 line of a reflection, or its K-alpha-2 line.
struct Target {
    double t;
    int line;
    bool second;
};

// Index of the target nearest to `t` in `targets`, sorted by angle.
int nearest(const std::vector<Target>& targets, double t)
{
    const auto it = std::lower_bound(targets.begin(), targets.end(), t,
                                     [](const Target& a, double v) { return a.t < v; });
    int j = static_cast<int>(it - targets.begin());
    if (j == static_cast<int>(targets.size()) || (j > 0 && t - targets[j - 1].t < targets[j].t - t))
        --j;
    return j;
}

int nearest(const std::vector<double>& tt, double t)
{
    const auto it = std::lower_bound(tt.begin(), tt.end(), t);
    int j = static_cast<int>(it - tt.begin());
    if (j == static_cast<int>(tt.size()) || (j > 0 && t - tt[j - 1] < tt[j] - t))
        --j;
    return j;
}

// Grows a match from a straight-line hypothesis: peaks near a line are matched (one peak a
// line, the nearest), a polynomial whose degree follows the span matched is fitted through
// them, and again until the matches stay the same. A peak nearest a K-alpha-2 line is that
// line's: it counts, and places the polynomial, but is no knot.
Assignment refine(const std::vector<double>& centres, const std::vector<Target>& targets, Poly poly, int channels)
{
    const double mid = poly.mid, half = poly.half;
    Assignment best;
    std::vector<int> previous;
    const int np = static_cast<int>(centres.size());
    for (int iter = 0; iter < 16; ++iter) {
        const double tolerance = iter < 4 ? 4.0 : 2.5; // channels
        std::vector<int> match(np, -1);
        std::vector<double> off(np, 0.0);
        std::vector<int> owner(targets.size(), -1);
        for (int i = 0; i < np; ++i) {
            const double slope = poly.slope(centres[i]);
            if (!(slope > 0.0))
                continue;
            const double t = poly(centres[i]);
            const int j = nearest(targets, t);
            const double dist = std::abs(targets[j].t - t) / slope;
            if (!(dist < tolerance))
                continue;
            if (owner[j] >= 0 && off[owner[j]] <= dist)
                continue;
            if (owner[j] >= 0)
                match[owner[j]] = -1;
            owner[j] = i;
            match[i] = j;
            off[i] = dist;
        }
        std::vector<double> ch, t;
        int first = 0;
        for (int i = 0; i < np; ++i)
            if (match[i] >= 0) {
                ch.push_back(centres[i]);
                t.push_back(targets[match[i]].t);
                first += !targets[match[i]].second;
            }
        const int count = static_cast<int>(ch.size());
        if (count < 3 || first < 2)
            return best;
        const double span = (*std::max_element(ch.begin(), ch.end()) - *std::min_element(ch.begin(), ch.end())) / channels;
        int degree = span < 0.25 ? 1 : span < 0.5 ? 2 : span < 0.7 || first < 8 ? 3 : first < 12 ? 4 : 5;
        degree = std::max(1, std::min(degree, first - 2));
        poly = fitPoly(ch, t, degree, mid, half);
        double ss = 0.0;
        for (int k = 0; k < count; ++k) {
            const double r = (poly(ch[k]) - t[k]) / std::max(poly.slope(ch[k]), 1e-12);
            ss += r * r;
        }
        best.line.assign(np, -1);
        best.second.assign(np, 0);
        for (int i = 0; i < np; ++i)
            if (match[i] >= 0 && targets[match[i]].second)
                best.second[i] = 1;
            else if (match[i] >= 0)
                best.line[i] = targets[match[i]].line;
        best.count = count;
        best.rms = std::sqrt(ss / count);
        best.poly = poly;
        if (match == previous)
            break;
        previous = match;
    }
    return best;
}

// The natural cubic smoothing spline with knots at x: the values a at the knots minimise
// sum w (y - a)^2 + lambda * (integral of the squared second derivative).
Eigen::VectorXd smoothingValues(const std::vector<double>& x, const std::vector<double>& y,
                                const std::vector<double>& w, double lambda)
{
    const int n = static_cast<int>(x.size());
    Eigen::VectorXd yv = Eigen::Map<const Eigen::VectorXd>(y.data(), n);
    if (n < 3 || lambda <= 0.0)
        return yv;
    Eigen::MatrixXd q = Eigen::MatrixXd::Zero(n, n - 2);
    Eigen::MatrixXd r = Eigen::MatrixXd::Zero(n - 2, n - 2);
    for (int j = 1; j < n - 1; ++j) {
        const double h0 = x[j] - x[j - 1], h1 = x[j + 1] - x[j];
        q(j - 1, j - 1) = 1.0 / h0;
        q(j, j - 1) = -1.0 / h0 - 1.0 / h1;
        q(j + 1, j - 1) = 1.0 / h1;
        r(j - 1, j - 1) = (h0 + h1) / 3.0;
        if (j < n - 2) {
            r(j - 1, j) = h1 / 6.0;
            r(j, j - 1) = h1 / 6.0;
        }
    }
    const Eigen::MatrixXd k = q * r.ldlt().solve(q.transpose());
    Eigen::MatrixXd m = lambda * k;
    Eigen::VectorXd rhs(n);
    for (int i = 0; i < n; ++i) {
        m(i, i) += w[i];
        rhs[i] = w[i] * y[i];
    }
    return m.ldlt().solve(rhs);
}

double chi2(const std::vector<double>& y, const std::vector<double>& w, const Eigen::VectorXd& a)
{
    double s = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i)
        s += w[i] * (y[i] - a[static_cast<Eigen::Index>(i)]) * (y[i] - a[static_cast<Eigen::Index>(i)]);
    return s;
}

// The smoothing that leaves a weighted sum of squares equal to the number of knots: the
// knots follow the centres to within their uncertainties, no closer.
double chooseSmoothing(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& w)
{
    const double target = static_cast<double>(x.size());
    double lo = -12.0, hi = 8.0;
    if (x.size() < 3 || chi2(y, w, smoothingValues(x, y, w, std::pow(10.0, lo))) >= target)
        return 0.0;
    if (chi2(y, w, smoothingValues(x, y, w, std::pow(10.0, hi))) <= target)
        return std::pow(10.0, hi);
    for (int i = 0; i < 50; ++i) {
        const double m = 0.5 * (lo + hi);
        (chi2(y, w, smoothingValues(x, y, w, std::pow(10.0, m))) < target ? lo : hi) = m;
    }
    return std::pow(10.0, lo);
}

TCalibration splineCalibration(const std::vector<double>& x, const Eigen::VectorXd& a, double wavelength)
{
    TCalibration cal;
    cal.CalWavelength = wavelength;
    cal.SplineFlag = 1;
    cal.KnotCount = static_cast<std::int16_t>(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        cal.KnotPos[static_cast<int>(i) + 1] = x[i];
        cal.KnotAngle[static_cast<int>(i) + 1] = a[static_cast<Eigen::Index>(i)];
    }
    TLitdat lit;
    if (lit.MakeCalibration(cal))
        cal.SplineFlag = 0;
    return cal;
}

int reflectionsMatched(const Assignment& a)
{
    return static_cast<int>(std::count_if(a.line.begin(), a.line.end(), [](int j) { return j >= 0; }));
}

std::string tooFew(std::size_t matched)
{
    return "only " + intText(static_cast<std::int64_t>(matched)) + " reflections matched (at least " +
           intText(kMinMatched) + " needed); no CAL written";
}

struct Knots {
    std::vector<double> x, y, w;
};

} // namespace

int anodeOf(double wavelength)
{
    const long double w = std::trunc(static_cast<long double>(wavelength) * 1000.0L);
    for (int r = 1; r <= 5; ++r)
        if (w == std::trunc(static_cast<long double>(AnodeTable(r).Alpha1) * 1000.0L))
            return r;
    return 0;
}

void writeCal(const std::string& target, const TCalibration& cal, fsio::OutputGroup::Placement placement)
{
    TLitdat lit;
    fsio::OutputGroup group(fsio::OutputGroup::Mode::Write, placement);
    group.add(target, lit.calBytes(cal));
    group.commit();
}

Result calibrate(const Counts& y, const std::vector<Reflection>& lines, double wavelength)
{
    Result res;
    res.wavelength = wavelength;
    const int channels = static_cast<int>(y.size());
    const int anode = anodeOf(wavelength);
    double lambda2 = 0.0, ratio = 0.0;
    if (anode) {
        res.anode = AnodeTable(anode).Anode.str();
        lambda2 = AnodeTable(anode).Alpha2;
        ratio = AnodeTable(anode).Ratio;
    }

    // The lines a 2-theta below 180 degrees reaches, by increasing angle.
    std::vector<Reflection> refl;
    std::vector<double> tt;
    for (const Reflection& r : lines) {
        const double t = twoTheta(wavelength, r.d);
        if (std::isfinite(t) && t > 0.5 && t < 179.0) {
            refl.push_back(r);
            tt.push_back(t);
        }
    }
    {
        std::vector<std::size_t> order(tt.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](auto a, auto b) { return tt[a] < tt[b]; });
        std::vector<Reflection> r2;
        std::vector<double> t2;
        for (auto i : order) {
            r2.push_back(refl[i]);
            t2.push_back(tt[i]);
        }
        refl = std::move(r2);
        tt = std::move(t2);
    }

    // Peaks, each fitted alone.
    std::vector<PeakGuess> guesses = findPeaks(y, kMinSignificance);
    res.found = static_cast<int>(guesses.size());
    std::vector<PeakFit> fits;
    std::vector<PeakGuess> kept;
    for (const PeakGuess& g : guesses) {
        PeakFit f = fitPeak(y, g);
        if (f.ok) {
            fits.push_back(f);
            kept.push_back(g);
        }
    }
    std::vector<double> centres;
    for (const PeakFit& f : fits)
        centres.push_back(f.centre);

    auto refuse = [&](const std::string& why, std::size_t matched) {
        res.refusal = why;
        res.reflections = static_cast<int>(matched);
        for (const PeakFit& f : fits)
            res.unmatched.push_back(f.centre);
        return res;
    };
    if (tt.size() < 2 || fits.size() < 2)
        return refuse(tooFew(0), 0);

    // Hypotheses: two of the strongest peaks are two of the lines. Each is scored by the peaks
    // that then fall within three channels of a line.
    std::vector<int> strongest(fits.size());
    std::iota(strongest.begin(), strongest.end(), 0);
    std::sort(strongest.begin(), strongest.end(),
              [&](int a, int b) { return fits[a].height * fits[a].fwhm > fits[b].height * fits[b].fwhm; });
    strongest.resize(std::min<std::size_t>(strongest.size(), kSeeds));
    struct Hypothesis {
        int score;
        double a, b;
    };
    std::vector<Hypothesis> hyps;
    const int nl = static_cast<int>(tt.size());
    for (std::size_t s1 = 0; s1 < strongest.size(); ++s1)
        for (std::size_t s2 = 0; s2 < strongest.size(); ++s2) {
            const double c1 = centres[strongest[s1]], c2 = centres[strongest[s2]];
            if (!(c2 > c1))
                continue;
            for (int j = 0; j < nl; ++j)
                for (int k = j + 1; k < nl; ++k) {
                    const double b = (tt[k] - tt[j]) / (c2 - c1);
                    const double a = tt[j] - b * c1;
                    if (b < 1e-4 || b > 1.0 || a + b < -5.0 || a + b * channels > 180.0)
                        continue;
                    int score = 0;
                    for (double c : centres) {
                        const double t = a + b * c;
                        score += std::abs(tt[nearest(tt, t)] - t) < 3.0 * b;
                    }
                    hyps.push_back({score, a, b});
                }
        }
    const std::size_t keep = std::min<std::size_t>(hyps.size(), kRefined);
    std::partial_sort(hyps.begin(), hyps.begin() + static_cast<std::ptrdiff_t>(keep), hyps.end(),
                      [](const Hypothesis& p, const Hypothesis& q) { return p.score > q.score; });
    std::vector<Target> targets;
    for (int j = 0; j < nl; ++j) {
        targets.push_back({tt[j], j, false});
        if (anode && std::isfinite(twoTheta(lambda2, refl[j].d)))
            targets.push_back({twoTheta(lambda2, refl[j].d), j, true});
    }
    std::sort(targets.begin(), targets.end(), [](const Target& p, const Target& q) { return p.t < q.t; });
    Assignment best;
    for (std::size_t h = 0; h < keep; ++h) {
        Poly line;
        line.mid = 0.5 * (channels + 1);
        line.half = 0.5 * (channels - 1);
        line.c = {hyps[h].a + hyps[h].b * line.mid, hyps[h].b * line.half};
        Assignment a = refine(centres, targets, line, channels);
        if (a.count > best.count || (a.count == best.count && a.count > 0 && a.rms < best.rms))
            best = a;
    }
    if (const int lines = reflectionsMatched(best); lines < kMinMatched)
        return refuse(tooFew(lines), lines);

    // Profiles again as K-alpha-1/K-alpha-2 pairs, the second line placed through the match;
    // kept when the pairs describe the matched peaks clearly better than single profiles. The
    // peaks are then matched again from their new centres.
    std::vector<PeakFit> chosen = fits;
    if (anode) {
        double single = 0.0, pair = 0.0;
        std::vector<PeakFit> pairs = fits;
        int compared = 0;
        for (std::size_t i = 0; i < fits.size(); ++i) {
            if (best.second[i])
                continue; // a K-alpha-2 line seen as a peak of its own
            // From where the match puts the K-alpha-1 line (a single profile fitted to a pair
            // sits between its two lines), or for a peak without a line, from its 2-theta.
            PeakGuess g = kept[i];
            g.channel = fits[i].centre;
            const int j = best.line[i];
            const double t = j >= 0 ? tt[j] : best.poly(g.channel);
            const double d = j >= 0 ? refl[j].d : wavelength / (2.0 * std::sin(t / (2.0 * kDeg)));
            for (int step = 0; j >= 0 && step < 4; ++step)
                g.channel -= (best.poly(g.channel) - t) / best.poly.slope(g.channel);
            const double offset = (twoTheta(lambda2, d) - t) / best.poly.slope(g.channel);
            pairs[i] = PeakFit{};
            for (double narrower : {1.0, 0.6}) {
                PeakGuess start = g;
                start.fwhm = std::max(1.5, g.fwhm * narrower);
                const PeakFit f = std::isfinite(offset) && std::isfinite(g.channel) ? fitPeak(y, start, offset, ratio)
                                                                                    : PeakFit{};
                if (f.ok && (!pairs[i].ok || f.chi2 < pairs[i].chi2))
                    pairs[i] = f;
            }
            // The choice rests on the matched peaks whose two lines overlap.
            const double separation = std::abs(offset) / fits[i].fwhm;
            if (j < 0 || !pairs[i].ok || separation < 0.3 || separation > 3.0)
                continue;
            ++compared;
            single += fits[i].chi2;
            pair += pairs[i].chi2;
        }
        if (compared >= 3 && pair < 0.8 * single) {
            res.doublets = true;
            for (std::size_t i = 0; i < fits.size(); ++i)
                if (!best.second[i])
                    chosen[i] = pairs[i];
            std::vector<double> again(chosen.size(), NAN);
            for (std::size_t i = 0; i < chosen.size(); ++i)
                if (chosen[i].ok)
                    again[i] = chosen[i].centre;
            best = refine(again, targets, best.poly, channels);
        }
    }
    if (const int lines = reflectionsMatched(best); lines < kMinMatched)
        return refuse(tooFew(lines), lines);

    // Lines on the detector that no peak found matches: a profile fitted where the match puts
    // the line, kept when it lands there.
    {
        std::vector<char> has(nl, 0);
        for (int j : best.line)
            if (j >= 0)
                has[j] = 1;
        const double lowT = best.poly(1.0), highT = best.poly(channels);
        for (int j = 0; j < nl; ++j) {
            if (has[j] || tt[j] < lowT || tt[j] > highT)
                continue;
            double c = 1.0 + (tt[j] - lowT) / (highT - lowT) * (channels - 1);
            for (int step = 0; step < 6; ++step)
                c -= (best.poly(c) - tt[j]) / best.poly.slope(c);
            if (!(c > 10.0 && c < channels - 10.0))
                continue;
            // The width of the nearest matched peak.
            double width = 0.0, distance = 1e300;
            for (std::size_t i = 0; i < chosen.size(); ++i)
                if (best.line[i] >= 0 && std::abs(chosen[i].centre - c) < distance) {
                    distance = std::abs(chosen[i].centre - c);
                    width = chosen[i].fwhm;
                }
            const double offset =
                res.doublets ? (twoTheta(lambda2, refl[j].d) - tt[j]) / best.poly.slope(c) : 0.0;
            const PeakGuess g{c, std::max(width, 1.5), 0.0};
            const PeakFit f = fitPeak(y, g, offset, res.doublets ? ratio : 0.0);
            double floor = 1e300;
            for (int k = std::max(1, int(c - 3 * width)); k <= std::min(channels, int(c + 3 * width)); ++k)
                floor = std::min(floor, y[k - 1]);
            if (!f.ok || std::abs(f.centre - c) > 2.0 || f.height < kMinSignificance * std::sqrt(std::max(floor, 1.0)))
                continue;
            chosen.push_back(f);
            kept.push_back(g);
            best.line.push_back(j);
            best.second.push_back(0);
        }
    }

    // Overlaps: a reflection with another line (or, with pairs, another K-alpha-2 line) within
    // two profile widths gives a blend, not a position.
    std::vector<int> matchedPeaks;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const int j = best.line[i];
        if (j < 0)
            continue;
        const double width = chosen[i].fwhm * best.poly.slope(chosen[i].centre);
        bool overlap = false;
        for (int k = 0; k < nl && !overlap; ++k) {
            if (k == j)
                continue;
            overlap = std::abs(tt[k] - tt[j]) < 2.0 * width;
            if (res.doublets) {
                overlap = overlap || std::abs(twoTheta(lambda2, refl[k].d) - tt[j]) < 1.5 * width ||
                          std::abs(twoTheta(lambda2, refl[j].d) - tt[k]) < 1.5 * width;
            }
        }
        if (!overlap)
            matchedPeaks.push_back(static_cast<int>(i));
    }
    std::sort(matchedPeaks.begin(), matchedPeaks.end(), [&](int p, int q) { return chosen[p].centre < chosen[q].centre; });
    // At most 100 knots: the least certain interior ones go.
    while (matchedPeaks.size() > static_cast<std::size_t>(kMaxKnots)) {
        auto worst = std::max_element(matchedPeaks.begin() + 1, matchedPeaks.end() - 1,
                                      [&](int p, int q) { return chosen[p].sigma < chosen[q].sigma; });
        matchedPeaks.erase(worst);
    }

    // Knots, smoothing and leave-one-out; an interior knot far off the others' calibration is
    // an outlier and goes, one at a time.
    std::vector<double> looRes;
    Eigen::VectorXd values;
    double smoothing = 0.0;
    Knots kn;
    for (int round = 0;; ++round) {
        kn = {};
        for (int i : matchedPeaks) {
            const double slope = best.poly.slope(chosen[i].centre);
            // Capped: a poorly determined centre must not let the spline bend away from its
            // neighbours' line over a whole stretch of the detector.
            const double s = std::min(std::hypot(chosen[i].sigma * slope, kCentreFloor), 4.0 * kCentreFloor);
            kn.x.push_back(chosen[i].centre / 1000.0);
            kn.y.push_back(tt[best.line[i]]);
            kn.w.push_back(1.0 / (s * s));
        }
        const int n = static_cast<int>(kn.x.size());
        if (n < kMinMatched)
            break;
        smoothing = chooseSmoothing(kn.x, kn.y, kn.w);
        values = smoothingValues(kn.x, kn.y, kn.w, smoothing);
        looRes.assign(n, 0.0);
        TLitdat lit;
        for (int i = 0; i < n; ++i) {
            Knots o = kn;
            o.x.erase(o.x.begin() + i);
            o.y.erase(o.y.begin() + i);
            o.w.erase(o.w.begin() + i);
            const TCalibration c = splineCalibration(o.x, smoothingValues(o.x, o.y, o.w, smoothing), wavelength);
            looRes[i] = lit.Degree(c, kn.x[i] * 1000.0) - kn.y[i];
        }
        if (n <= kMinMatched || round >= n / 5)
            break;
        std::vector<double> mags;
        for (double r : looRes)
            mags.push_back(std::abs(r));
        std::vector<double> sorted = mags;
        std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.end());
        const double scale = 1.4826 * sorted[n / 2];
        const auto worst = std::max_element(mags.begin() + 1, mags.end() - 1) - mags.begin();
        if (!(mags[worst] > std::max(0.02, 8.0 * scale)))
            break;
        matchedPeaks.erase(matchedPeaks.begin() + worst);
    }
    if (static_cast<int>(matchedPeaks.size()) < kMinMatched)
        return refuse(tooFew(matchedPeaks.size()), matchedPeaks.size());

    res.cal = splineCalibration(kn.x, values, wavelength);
    TLitdat lit;
    double ss = 0.0, ssLoo = 0.0;
    for (std::size_t k = 0; k < matchedPeaks.size(); ++k) {
        const int i = matchedPeaks[k];
        Matched m;
        m.line = refl[best.line[i]];
        m.peak = chosen[i];
        m.expected = tt[best.line[i]];
        m.fitted = lit.Degree(res.cal, m.peak.centre);
        m.residual = m.fitted - m.expected;
        m.leaveOut = looRes[k];
        const double left = lit.Degree(res.cal, m.peak.centre - 0.5 * m.peak.fwhm);
        const double right = lit.Degree(res.cal, m.peak.centre + 0.5 * m.peak.fwhm);
        m.fwhm = right - left;
        ss += m.residual * m.residual;
        ssLoo += m.leaveOut * m.leaveOut;
        res.maxAbs = std::max(res.maxAbs, std::abs(m.residual));
        res.matched.push_back(m);
    }
    const double n = static_cast<double>(res.matched.size());
    res.reflections = static_cast<int>(res.matched.size());
    res.rms = std::sqrt(ss / n);
    res.leaveOutRms = std::sqrt(ssLoo / n);
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        if (std::find(matchedPeaks.begin(), matchedPeaks.end(), static_cast<int>(i)) != matchedPeaks.end())
            continue;
        // With pairs, a peak where a matched line's K-alpha-2 lies is that line's.
        bool second = false;
        if (res.doublets)
            for (const Matched& m : res.matched) {
                const double t2 = twoTheta(lambda2, m.line.d);
                second = second || std::abs(lit.Degree(res.cal, chosen[i].centre) - t2) < 0.5 * m.fwhm;
            }
        if (!second)
            res.unmatched.push_back(chosen[i].centre);
    }
    res.fromChannel = res.matched.front().peak.centre;
    res.toChannel = res.matched.back().peak.centre;
    res.fromAngle = res.matched.front().fitted;
    res.toAngle = res.matched.back().fitted;
    const double low = lit.Degree(res.cal, 1.0), high = lit.Degree(res.cal, channels);
    res.linesFrom = high;
    res.linesTo = low;
    for (double t : tt)
        if (t >= low && t <= high) {
            res.linesFrom = std::min(res.linesFrom, t);
            res.linesTo = std::max(res.linesTo, t);
        }
    res.coverage = res.linesTo > res.linesFrom ? (res.toAngle - res.fromAngle) / (res.linesTo - res.linesFrom) : 1.0;
    for (std::size_t k = 1; k < res.matched.size(); ++k) {
        const Matched& a = res.matched[k - 1];
        const Matched& b = res.matched[k];
        if (b.peak.centre - a.peak.centre > channels / 8.0)
            res.gaps.push_back({a.peak.centre, b.peak.centre, a.fitted, b.fitted});
    }
    // Matching residuals: the polynomial of the match, which a wrong standard or a wrong
    // wavelength cannot bring close to the lines.
    double matchSs = 0.0;
    for (const Matched& m : res.matched) {
        const double r = best.poly(m.peak.centre) - m.expected;
        matchSs += r * r;
    }
    const double matchRms = std::sqrt(matchSs / n);
    // A wrong wavelength keeps the lines in their order and bends them smoothly, which the match
    // can follow with small residuals; what gives it away is the pattern: the standard then has
    // lines where no peak is, between the first and last knots, or strong peaks match no line.
    std::vector<char> explained(nl, 0);
    for (std::size_t i = 0; i < chosen.size(); ++i)
        if (best.line[i] >= 0)
            explained[best.line[i]] = 1;
    for (int j = 0; j < nl; ++j)
        if (tt[j] >= res.fromAngle - 0.05 && tt[j] <= res.toAngle + 0.05) {
            ++res.linesInRange;
            res.linesWithPeak += explained[j];
        }
    std::vector<std::size_t> highest(chosen.size());
    std::iota(highest.begin(), highest.end(), std::size_t{0});
    std::sort(highest.begin(), highest.end(),
              [&](std::size_t a, std::size_t b) { return chosen[a].height > chosen[b].height; });
    highest.resize(std::min<std::size_t>(kStrongest, highest.size()));
    for (std::size_t i : highest) // neither a line's peak nor a K-alpha-2 of one
        res.strongUnmatched += best.line[i] < 0 && std::find(res.unmatched.begin(), res.unmatched.end(),
                                                             chosen[i].centre) != res.unmatched.end();
    const std::string wrong = ": wrong standard or wrong wavelength? no CAL written";
    if (res.strongUnmatched > kMaxStrongUnmatched)
        return refuse(intText(res.strongUnmatched) + " of the " + intText(static_cast<int>(highest.size())) +
                          " highest peaks match no reflection of the standard" + wrong,
                      res.matched.size());
    if (3 * res.linesWithPeak < 2 * res.linesInRange)
        return refuse("only " + intText(res.linesWithPeak) + " of the standard's " + intText(res.linesInRange) +
                          " reflections between " + fixedText(res.fromAngle, 3) + " and " +
                          fixedText(res.toAngle, 3) + " degrees have a peak" + wrong,
                      res.matched.size());
    const double worst = std::max(matchRms, res.leaveOutRms);
    if (worst > kMaxResidual)
        return refuse("the match leaves residuals of " + fixedText(worst, 3) + " degrees (above " +
                      fixedText(kMaxResidual, 2) + "): wrong standard or wrong wavelength? no CAL written",
                      res.matched.size());
    return res;
}

} // namespace rawdat::calib
