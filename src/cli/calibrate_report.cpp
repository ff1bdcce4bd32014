#include "cli/calibrate_report.h"

#include "ulit_dat/numtext.h"

#include <nlohmann/json.hpp>

#include <charconv>

namespace rawdat::cli {

namespace {

std::string pad(std::string s, std::size_t width)
{
    if (s.size() < width)
        s.resize(width, ' ');
    return s;
}

// A number for JSON, rounded as the text report rounds it.
double rounded(double v, int decimals)
{
    const std::string text = fixedText(v, decimals);
    double out = v;
    std::from_chars(text.data(), text.data() + text.size(), out);
    return out;
}

} // namespace

std::vector<std::string> calibrationReport(const std::string& file, const std::string& standard,
                                           const calib::Result& r, bool json)
{
    std::vector<std::string> out;
    const std::string profiles = r.doublets ? "K-alpha-1/K-alpha-2 pairs" : "single profiles";
    const std::string source = r.anode.empty() ? "" : " (" + r.anode + " K-alpha-1)";
    const int matched = r.reflections;
    if (json) {
        using nlohmann::json;
        out.push_back(json{{"file", file}, {"type", "standard"}, {"standard", standard},
                           {"wavelength", r.wavelength}, {"anode", r.anode}, {"doublets", r.doublets}}
                          .dump());
        for (const calib::Matched& m : r.matched)
            out.push_back(json{{"file", file},
                               {"type", "reflection"},
                               {"hkl", m.line.label},
                               {"d", m.line.d},
                               {"channel", rounded(m.peak.centre, 3)},
                               {"channel_sigma", rounded(m.peak.sigma, 3)},
                               {"expected", rounded(m.expected, 4)},
                               {"fitted", rounded(m.fitted, 4)},
                               {"residual", rounded(m.residual, 4)},
                               {"leave_one_out", rounded(m.leaveOut, 4)},
                               {"fwhm", rounded(m.fwhm, 4)}}
                              .dump());
        out.push_back(json{{"file", file}, {"type", "peaks"}, {"found", r.found}, {"matched", matched}}.dump());
        if (r.matched.empty())
            return out;
        out.push_back(json{{"file", file},
                           {"type", "residuals"},
                           {"rms", rounded(r.rms, 4)},
                           {"max", rounded(r.maxAbs, 4)},
                           {"leave_one_out_rms", rounded(r.leaveOutRms, 4)}}
                          .dump());
        out.push_back(json{{"file", file},
                           {"type", "range"},
                           {"from", rounded(r.fromAngle, 3)},
                           {"to", rounded(r.toAngle, 3)},
                           {"first_channel", rounded(r.fromChannel, 1)},
                           {"last_channel", rounded(r.toChannel, 1)},
                           {"coverage", rounded(r.coverage, 3)}}
                          .dump());
        for (const calib::Gap& g : r.gaps)
            out.push_back(json{{"file", file},
                               {"type", "gap"},
                               {"first_channel", rounded(g.fromChannel, 1)},
                               {"last_channel", rounded(g.toChannel, 1)},
                               {"from", rounded(g.fromAngle, 3)},
                               {"to", rounded(g.toAngle, 3)}}
                              .dump());
        return out;
    }
    out.push_back(file + ": " + standard + " at " + fixedText(r.wavelength, 5) + " A" + source + ", " + profiles);
    if (!r.matched.empty())
        out.push_back("reflection     channel  2-theta   fitted  residual  leave-out    FWHM");
    for (const calib::Matched& m : r.matched)
        out.push_back(pad(m.line.label, 11) + fixedText(m.peak.centre, 3, 11) + fixedText(m.expected, 4, 9) +
                      fixedText(m.fitted, 4, 9) + fixedText(m.residual, 4, 10) + fixedText(m.leaveOut, 4, 11) +
                      fixedText(m.fwhm, 4, 8));
    out.push_back("peaks: " + intText(r.found) + " found, " + intText(matched) + " matched");
    if (r.matched.empty())
        return out;
    out.push_back("residuals (degrees): RMS " + fixedText(r.rms, 4) + ", max " + fixedText(r.maxAbs, 4) +
                  ", leave-one-out RMS " + fixedText(r.leaveOutRms, 4));
    out.push_back("converts 2-theta " + fixedText(r.fromAngle, 3) + " to " + fixedText(r.toAngle, 3) +
                  " (channels " + fixedText(r.fromChannel, 1) + " to " + fixedText(r.toChannel, 1) + "), " +
                  fixedText(100.0 * r.coverage, 0) + "% of the range of the standard's lines on the detector");
    for (const calib::Gap& g : r.gaps)
        out.push_back("gap: no knot between channels " + fixedText(g.fromChannel, 1) + " and " +
                      fixedText(g.toChannel, 1) + " (2-theta " + fixedText(g.fromAngle, 3) + " to " +
                      fixedText(g.toAngle, 3) + ")");
    return out;
}

} // namespace rawdat::cli
