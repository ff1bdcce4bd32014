#include "convert/info_json.h"
#include "convert/xy_export.h"

#include "convert/batch.h"
#include "convert/headless_ui.h"
#include "fmt_raw/raw.h"
#include "ulit_dat/dates.h"
#include "ulit_dat/describe.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/litdat.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace rawdat {

namespace {

using json = nlohmann::ordered_json;

// A Single as the decimal it was written as: the shortest text that reads back as it.
json single(float v)
{
    if (!std::isfinite(v))
        return nullptr;
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    double d = 0;
    std::from_chars(buf, end, d);
    return d;
}

// A Double; one that a Single holds exactly (a RAW2 wavelength) as that Single.
json real(double v)
{
    if (!std::isfinite(v))
        return nullptr;
    const auto f = static_cast<float>(v);
    return static_cast<double>(f) == v ? single(f) : json(v);
}

json dateOf(const TScanHeader& h, DateOrder order)
{
    const std::string iso = isoDate(h.Date.view(), order);
    return {{"stored", headerText(h.Date.view())}, {"iso", iso.empty() ? json(nullptr) : json(iso)}};
}

void addWavelength(json& j, double wavelength)
{
    j["wavelength"] = real(wavelength);
    // The first row of the anode table that matches, as the RAW writer matches them.
    const long double w = std::trunc(static_cast<long double>(wavelength) * 1000.0L);
    for (int r = 1; r <= 6; ++r) {
        const TAnodeLine& a = AnodeTable(r);
        if (std::isfinite(wavelength) && w == std::trunc(static_cast<long double>(a.Alpha1) * 1000.0L)) {
            j["anode"] = std::string(a.Anode.view());
            j["wavelengths"] = {{"alpha1", single(a.Alpha1)}, {"alpha2", single(a.Alpha2)}, {"ratio", single(a.Ratio)}};
            return;
        }
    }
    j["anode"] = nullptr;
    j["wavelengths"] = {{"alpha1", real(wavelength)}};
}

json rangeOf(const TRangeInfo& r, std::int32_t points)
{
    const long double end = static_cast<long double>(std::max(points, 1) - 1) * r.Step + r.Start;
    return {{"start", single(r.Start)},
            {"step", single(r.Step)},
            {"points", points},
            {"time_per_step", single(r.StepTime)},
            {"end", single(static_cast<float>(end))}};
}

json calibrationOf(const TCalibration& cal)
{
    json j = {{"kind", cal.SplineFlag != 0 ? "spline" : "polynomial"}, {"wavelength", real(cal.CalWavelength)}};
    if (cal.SplineFlag != 0) {
        json knots = json::array();
        for (int i = 1; i <= cal.KnotCount; ++i)
            knots.push_back({{"channel", real(cal.KnotPos[i] * 1000.0)}, {"two_theta", real(cal.KnotAngle[i])}});
        j["knots"] = std::move(knots);
    } else {
        json coefficients = json::array();
        for (int k = 1; k <= 11; ++k)
            coefficients.push_back(real(cal.PolyCoef[k]));
        j["coefficients"] = std::move(coefficients);
    }
    return j;
}

void describeDat(json& j, const std::string& path)
{
    TRawDatState state;
    TLitdat lit;
    HeadlessUi ui(path, false);
    TConversion conv(state, lit, ui);
    if (!conv.loadDat(path))
        throw Refusal({}, "file not opened");
    const TScanHeader& h = state.Header;
    j["date"] = dateOf(h, DateOrder::DayMonthYear);
    j["sample"] = headerText(h.Comment1.view());
    j["comments"] = {headerText(h.Comment2.view()), headerText(h.Comment3.view())};
    addWavelength(j, h.Wavelength);
    j["channels"] = h.Size;

    // The conversion in memory gives the range of its RAW file and the channels it takes.
    ConversionOptions dry;
    dry.dryRun = true;
    dry.planned = true;
    dry.existing = ConversionOptions::Existing::Replace;
    TRawDatState converted;
    HeadlessUi convertUi(path, true);
    TConversion conversion(converted, lit, convertUi, dry);
    j["ranges"] = json::array();
    j["main_range"] = 0;
    try {
        conversion.Bt_datClick();
        j["ranges"].push_back(rangeOf(converted.Raw.RangeInfo, converted.Header.Size));
    } catch (const std::exception& e) {
        j["conversion_error"] = userMessage(path, path, e.what());
    }

    json cal = {{"name", state.CalFileName}, {"found", state.CalibOK}, {"file", nullptr}};
    if (state.CalibOK) {
        cal["file"] = state.LastCalibPath;
        cal.update(calibrationOf(state.Calibration));
        const int first = converted.Shown.FirstChannel;
        const int last = converted.Shown.LastChannel;
        cal["two_theta"] = nullptr;
        if (first > 0 && last >= first)
            cal["two_theta"] = {{"first_channel", first},
                                {"last_channel", last},
                                {"from", real(lit.Degree(state.Calibration, first))},
                                {"to", real(lit.Degree(state.Calibration, last))}};
    }
    j["calibration"] = std::move(cal);
}

void describeRaw(json& j, const std::string& path, std::string_view variant)
{
    RawModule raw;
    TScanHeader h;
    TScanParams p;
    auto data = std::make_unique<TData>();
    Lect_RAW(raw, path, h, p, *data);
    j["date"] = dateOf(h, variant == "RAW2" ? DateOrder::DayMonthYear : DateOrder::MonthDayYear);
    j["sample"] = headerText(h.Comment2.view());
    j["comments"] = {headerText(h.Comment3.view())};
    addWavelength(j, h.Wavelength);
    json ranges = json::array();
    for (const TRawRange& r : raw.Ranges)
        ranges.push_back(rangeOf(r.Info, r.Size()));
    j["ranges"] = std::move(ranges);
    j["main_range"] = raw.MainRange;
}

// The signature of a RAW file's variant, from its first bytes.
json rawVariant(const Bytes& head)
{
    const std::string_view s(reinterpret_cast<const char*>(head.data()), std::min<std::size_t>(head.size(), 7));
    for (const char* v : {"RAW1.01", "RAW2", "RAW4.00"})
        if (s.substr(0, std::string_view(v).size()) == v)
            return v;
    return nullptr;
}

} // namespace

json fileInfo(const std::string& given)
{
    const std::string path = given.empty() ? given : absolutePath(given);
    try {
        if (given.empty())
            throw Refusal({}, "empty file name");
        std::uint64_t size = 0;
        const auto head = fsio::tryReadHead(path, kHeadSize, nullptr, &size);
        const ContentKind kind = kindOf(path, head);
        static constexpr const char* kNames[] = {"DAT", "RAW", "CAL", "FDT", "DTB"};
        if (kind == ContentKind::Unknown)
            throw Refusal({}, "not a file rawdat knows (DAT, RAW, CAL, FDT or DTB)");
        json j = {{"path", given}, {"kind", kNames[static_cast<int>(kind)]}, {"variant", nullptr}, {"size", size}};
        if (head && kind == ContentKind::Raw)
            j["variant"] = rawVariant(*head);
        switch (kind) {
        case ContentKind::Dat: describeDat(j, path); break;
        case ContentKind::Raw: describeRaw(j, path, j["variant"].is_string() ? j["variant"].get<std::string>() : ""); break;
        case ContentKind::Cal: {
            TCalibration cal;
            if (!TLitdat().Lect_CAL(path, cal)) {
                fsio::readFile(path); // raises the error of the open that failed
                throw InOutError(iotext::kNotFound, path);
            }
            j["wavelength"] = real(cal.CalWavelength);
            j["calibration"] = calibrationOf(cal);
            break;
        }
        case ContentKind::Fdt:
        case ContentKind::Dtb: {
            json lines = json::array();
            for (const std::string& line : kind == ContentKind::Fdt ? describeFdt(path) : describeDtb(path))
                lines.push_back(windows1252ToUtf8(line));
            j["summary"] = std::move(lines);
            break;
        }
        case ContentKind::Unknown: break;
        }
        return j;
    } catch (const std::exception& e) {
        return {{"path", given}, {"error", userMessage(given, path, e.what())}};
    }
}

std::string infoLine(const json& info)
{
    return info.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace rawdat
