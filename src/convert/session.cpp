// The two commands of the window, step by step, over the shared state.
#include "convert/session.h"

#include "ulit_dat/errors.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/platform.h"
#include "ulit_dat/numtext.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <limits>
#include <new>
#include <span>
#include <vector>

namespace rawdat {

namespace {

// A dry run's groups write nothing; without replacing, a group places only new files.
fsio::OutputGroup groupFor(const ConversionOptions& options)
{
    using G = fsio::OutputGroup;
    return G(options.dryRun ? G::Mode::DryRun : G::Mode::Write,
             options.existing == ConversionOptions::Existing::Keep ? G::Placement::NoClobber
                                                                   : G::Placement::Replace);
}


// Trunc of an extended value into a 64-bit integer, refused when no 64-bit integer holds it.
std::int64_t truncChecked(long double v, const std::string& file, const char* what)
{
    if (!(std::fabs(v) < 9.2e18L))
        throw Refusal(file, std::string("the calibration gives no usable ") + what);
    return static_cast<std::int64_t>(v);
}

// Round to nearest, halves to even, into an int32; refused when no int32 holds the value, or
// when the Single that the RAW file stores it as does not read back as an int32 (from 2^31 - 64).
std::int32_t roundedCount(double v, const std::string& file, int point)
{
    const double r = std::nearbyint(v);
    if (!(r >= -2147483648.0 && static_cast<float>(r) < 2147483648.0f))
        throw Refusal(file, "resampled point " + intText(point) + " has an intensity that is not a 32-bit count");
    return static_cast<std::int32_t>(r);
}

// The export an output is, if it is one.
std::optional<XyFormat> exportFormat(OutputKind kind)
{
    switch (kind) {
    case OutputKind::Xy: return XyFormat::Xy;
    case OutputKind::Xye: return XyFormat::Xye;
    case OutputKind::Csv: return XyFormat::Csv;
    case OutputKind::Instprm: return XyFormat::Instprm;
    default: return std::nullopt;
    }
}

// The bytes of the export `path` of the input `file`; an instrument parameter file needs the
// wavelength the header may lack.
std::string exportText(const XyPattern& pattern, XyFormat format, const std::string& file, const std::string& path)
{
    XyWavelengths unused;
    if (format == XyFormat::Instprm && !instprmWavelengths(pattern, unused))
        throw Refusal(file, "its header holds no wavelength for " + std::filesystem::path(path).filename().string() +
                                "; nothing converted");
    return xyFileText(pattern, format);
}

// The input's path, in the output folder when one is given: what output names are made from.
std::string outputBase(const std::string& input, const ConversionOptions& options)
{
    namespace fs = std::filesystem;
    return options.outputDir.empty() ? input
                                     : (fs::path(options.outputDir) / fs::path(input).filename()).string();
}

// The exports of options.also beside the two-column file NAME + suffix + ".2CL".
void addExports(std::vector<PlannedOutput>& out, const std::string& base, std::string_view suffix,
                const ConversionOptions& options, std::size_t range)
{
    static constexpr OutputKind kKinds[] = {OutputKind::Xy, OutputKind::Xye, OutputKind::Csv, OutputKind::Instprm};
    for (const XyFormat f : options.also)
        out.push_back({kKinds[static_cast<int>(f)], replaceExtension(base, xyExtension(f), suffix), range});
}

// The intensities of range k of a RAW file's pattern as the file stores them, not as the counts
// of Data.
void storedIntensities(XyPattern& pattern, const RawModule& raw, std::size_t k)
{
    if (k < raw.Ranges.size() && raw.Ranges[k].Intensities.size() == pattern.Intensity.size())
        pattern.Intensity = raw.Ranges[k].Intensities;
}

// Entry i of a RAW range's grid: Start + (i - 1) Step, and its count.
void rangePattern(const TRangeInfo& range, const TData& data, int size, TSingleArray& x, TSingleArray& y)
{
    for (int i = 1; i <= size; ++i) {
        x[i] = static_cast<float>(static_cast<long double>(i - 1) * range.Step + range.Start);
        y[i] = static_cast<float>(data[i]);
    }
}

} // namespace

ContentKind kindOf(const std::string& path, const std::optional<Bytes>& head)
{
    if (head) {
        const Bytes& b = *head;
        if (b.size() >= 3 && b[0] == 'R' && b[1] == 'A' && b[2] == 'W')
            return ContentKind::Raw;
        if (b.size() >= 2 && b[0] == 0x4B && b[1] == 0x02)
            return ContentKind::Dat;
        if (b.size() >= 2 && b[0] == 0x4B && b[1] == 0x64)
            return ContentKind::Cal;
    }
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    static const std::pair<const char*, ContentKind> byExtension[] = {{".RAW", ContentKind::Raw},
                                                                      {".DAT", ContentKind::Dat},
                                                                      {".CAL", ContentKind::Cal},
                                                                      {".FDT", ContentKind::Fdt},
                                                                      {".DTB", ContentKind::Dtb}};
    for (const auto& [e, kind] : byExtension)
        if (ext == e)
            return kind;
    return ContentKind::Unknown;
}

ContentKind kindOf(const std::string& path)
{
    return kindOf(path, fsio::tryReadHead(path, kHeadSize));
}

std::vector<PlannedOutput> plannedOutputs(FileKind kind, const std::string& input,
                                          const ConversionOptions& options)
{
    if (kind == FileKind::Raw)
        return plannedOutputs(input, options, RawRangeCount(input));
    const std::string base = outputBase(input, options);
    std::vector<PlannedOutput> out = {{OutputKind::Raw, replaceExtension(base, "RAW")},
                                      {OutputKind::TwoColumn, replaceExtension(base, "2CL")}};
    addExports(out, base, {}, options, 0);
    return out;
}

std::vector<PlannedOutput> plannedOutputs(const std::string& input, const ConversionOptions& options,
                                          TRangeCount ranges)
{
    if (ranges.Count > kRawMaxRanges)
        throw Refusal(input, tooManyRanges(ranges.Count));
    const std::string base = outputBase(input, options);
    std::vector<PlannedOutput> out;
    const auto addRange = [&](std::size_t r, const std::string& suffix) {
        out.push_back({OutputKind::Txt, replaceExtension(base, "TXT", suffix), r});
        out.push_back({OutputKind::TwoColumn, replaceExtension(base, "2CL", suffix), r});
        addExports(out, base, suffix, options, r);
    };
    addRange(ranges.Main, {});
    for (std::size_t r = 0; r < ranges.Count; ++r)
        if (r != ranges.Main)
            addRange(r, "_" + intText(static_cast<std::int64_t>(r + 1)));
    return out;
}

std::string calibrationBase(std::string_view calName)
{
    std::string base;
    for (char c : calName.substr(0, 9))
        if (c != ' ' && c != '\0')
            base += c;
    return base;
}

std::string calibrationOfDat(const std::string& dat, std::string_view calName,
                             const ConversionOptions& options)
{
    if (!options.calibration.empty())
        return options.calibration;
    // The calibration lies beside the DAT file; files from the instrument's computer often differ
    // in letter case.
    const std::string folder = std::filesystem::path(dat).parent_path().string();
    return fsio::findFileIgnoringCase(folder, calibrationBase(calName) + ".CAL");
}

std::string windows1252ToUtf8(std::string_view text)
{
    // Code points of 0x80..0x9F; the undefined five map to themselves as C1 controls.
    static constexpr char16_t k80[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                         0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        const unsigned cp = (c >= 0x80 && c < 0xA0) ? k80[c - 0x80] : c;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

void Ecr_2CL(const std::string& name, const TSingleArray& X, const TSingleArray& Y, int n)
{
    const std::string file = replaceExtension(name, "2CL");
    fsio::writeFileAtomic(file, twoColumnBytes(file, X, Y, n));
}

std::string twoColumnBytes(const std::string& file, const TSingleArray& X, const TSingleArray& Y, int n)
{
    if (n > kDataCapacity)
        throw Refusal(file, "cannot write " + intText(n) + " points; at most " + intText(kDataCapacity));
    FixedText out(static_cast<std::size_t>(std::max(n, 0)) * 20);
    for (int i = 1; i <= n; ++i) {
        out.fixed(X[i], 3, 7);
        out.append(" ");
        out.fixed(Y[i], 0, 10);
        out.append("\r\n");
    }
    return out.take();
}

bool TConversion::ConfirmOverwrite(const std::string& name)
{
    if (options_.existing != ConversionOptions::Existing::Ask || !fsio::opensForWriting(name))
        return true;
    return ui_.askOverwrite(name);
}

bool TConversion::runGuarded(void (TConversion::*command)())
{
    try {
        (this->*command)();
        return true;
    } catch (const fsio::TargetExists& e) {
        ui_.keptExisting(e.target());
        return true;
    } catch (const std::bad_alloc&) {
        ui_.reportError("Mémoire insuffisante");
    } catch (const std::exception& e) {
        ui_.reportError(e.what());
    }
    return false;
}

bool TConversion::runDat() { return runGuarded(&TConversion::Bt_datClick); }
bool TConversion::runRaw() { return runGuarded(&TConversion::Bt_RAWClick); }

void TConversion::allocateData()
{
    if (!s_.Data)
        s_.Data = std::make_unique<TData>();
}

// ---------------------------------------------------------------------------------------------
// The DAT command

template <class Work> void TConversion::withCalibration(Work&& work)
{
    try {
        work();
    } catch (const FloatError& e) {
        if (s_.LastCalibPath.empty())
            throw;
        throw Refusal(s_.DatFileName, "its calibration " + s_.LastCalibPath + " cannot be used (" + e.what() +
                                          "); nothing converted");
    }
}

void TConversion::Bt_datClick()
{
    const auto chosen = ui_.chooseFile(FileKind::Dat);
    if (!chosen)
        return;
    if (!loadDat(*chosen))
        return;
    const auto outputs = plannedOutputs(FileKind::Dat, s_.DatFileName, options_);
    s_.RawFileName = outputs[0].path;
    withCalibration([&] { plotDat(s_.CalibOK); });
    // The record holds the calibration read last: the file's own, or the one read before.
    const std::string& calibration = s_.CalibOK ? calibrationPath_ : s_.LastCalibPath;
    checkOutputs(outputs, s_.DatFileName, calibration);
    if (!s_.CalibOK) {
        // Another file's calibration gives angles that may be wrong for this one: it is used
        // only when the user says so, before anything is written or asked.
        if (s_.LastCalibPath.empty()) {
            const std::string advice = ui_.calibrationAdvice();
            throw Refusal(s_.DatFileName,
                          "no calibration: " + calibrationMissing("it") +
                              (advice.empty() ? " and no calibration has been read before; nothing converted"
                                              : "; nothing converted (" + advice + ")"));
        }
        const std::string dat = std::filesystem::path(s_.DatFileName).filename().string();
        if (!ui_.askUsePreviousCalibration(calibrationMissing(dat) +
                                           ". Convert with the calibration read before (" + s_.LastCalibPath +
                                           ")?"))
            return;
        withCalibration([&] { plotDat(true); });
    }
    if (!ConfirmOverwrite(s_.RawFileName))
        return;
    withCalibration([&] { convertDat(outputs); });
}

std::string TConversion::calibrationMissing(const std::string& dat) const
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const bool exists = fs::exists(platform::fsPath(calibrationPath_), ec);
    // A calibration given by the caller is named by its path; the one the header names by the
    // name the header asks for, or by its name on disk when it is there.
    const bool given = !options_.calibration.empty();
    const std::string name = given    ? calibrationPath_
                             : exists ? fs::path(calibrationPath_).filename().string()
                                      : s_.CalFileName;
    const std::string where = given ? "" : " beside " + dat;
    if (exists)
        return name + where + " cannot be read (" + iotext::kAccessDenied + ")";
    return name + " was not found" + where;
}

void TConversion::checkOutputs(const std::vector<PlannedOutput>& outputs, const std::string& input,
                               const std::string& calibration) const
{
    namespace fs = std::filesystem;
    if (options_.planned)
        return;
    for (const PlannedOutput& o : outputs) {
        const std::string name = fs::path(o.path).filename().string();
        // An output that does not exist can be the input only by its name.
        const bool exists = fsio::checkReplaceable(o.path);
        const auto same = [&](const std::string& file) {
            return exists ? fsio::sameFile(o.path, file)
                          : fs::path(o.path).lexically_normal() == fs::path(file).lexically_normal();
        };
        if (same(input))
            throw Refusal(input, "its output " + name + " would replace an input; nothing written");
        if (!calibration.empty() && same(calibration))
            throw Refusal(input, "its output " + name + " would replace its calibration " +
                                     fs::path(calibration).filename().string() + "; nothing written");
    }
}

bool TConversion::loadDat(const std::string& path)
{
    s_.DatFileName = path;
    allocateData();
    TScanHeader& h = s_.Header;
    if (!lit_.Lect_Dat(s_.DatFileName, h, s_.Params, *s_.Data)) {
        ui_.fileNotOpened(path);
        return false;
    }
    h.NbScans = 1;

    // The calibration's base name: the first nine characters of CalName's area without spaces
    // (and without zero bytes, which no file name holds).
    const std::string base = calibrationBase(h.CalName.area());
    s_.CalFileName = base + ".CAL";
    calibrationPath_ = calibrationOfDat(s_.DatFileName, h.CalName.area(), options_);
    const bool read = lit_.Lect_CAL(calibrationPath_, s_.Calibration);
    s_.CalibOK = read;
    if (read)
        s_.LastCalibPath = calibrationPath_;
    // The label names the file only once it and its calibration are read: after a failed read
    // the window goes on showing the previous file's name beside its pattern and memo, and the
    // text exports keep that pattern.
    s_.Shown = {path, FileKind::Dat, h.Size, 0, 0, {}};
    ui_.fileRead(FileKind::Dat, path);
    ui_.setLabel(LabelId::Dat, path);
    s_.LastPattern = {};

    const std::string status = s_.CalibOK ? "calibOK" : "calib NOTOK" + base + "*";
    ui_.appendMemo("calibration : " + status);
    ui_.appendMemo("taille : " + intText(h.Size));
    ui_.appendMemo("acquisition : " + fixedText(s_.Params.AcqTime, 3, 7));
    ui_.appendMemo("lambda : " + fixedText(h.Wavelength, 5, 7));
    ui_.appendMemo("Calib : " + h.CalName.str());
    ui_.appendMemo("date : " + h.Date.str());
    ui_.appendMemo("power " + h.Voltage.str() + " " + h.Current.str());
    ui_.appendMemo("comment " + h.Comment1.str());
    ui_.appendMemo("comment " + h.Comment2.str());
    ui_.appendMemo("comment " + h.Comment3.str());
    return true;
}

void TConversion::plotDat(bool inAngles)
{
    TSingleArray& x = *s_.TabX;
    TSingleArray& y = *s_.TabY;
    const TData& data = *s_.Data;
    ui_.clearPlot();
    ui_.setPlotAxis(inAngles ? PlotAxis::TwoTheta : PlotAxis::Channel);
    for (int i = 1; i <= s_.Header.Size; ++i) {
        x[i] = inAngles ? static_cast<float>(lit_.Degree(s_.Calibration, i)) : static_cast<float>(i);
        y[i] = static_cast<float>(data[i]);
        ui_.addPlotPoint(x[i], y[i]);
    }
    ui_.plotFinished();
}

void TConversion::convertDat(const std::vector<PlannedOutput>& outputs)
{
    const std::string& file = s_.DatFileName;
    const TCalibration& cal = s_.Calibration;
    TData& data = *s_.Data;
    const int size = s_.Header.Size;
    // The calibration the record holds: the file's own, or the one read before.
    const std::string calName =
        s_.CalibOK ? s_.CalFileName : std::filesystem::path(s_.LastCalibPath).filename().string();

    // The constant step, about one channel, rounded half up to 0.001 degree, and the calibrated
    // channel range. Extended precision throughout; each value is rounded only where stored.
    long double width;
    std::int64_t first;
    std::int64_t last;
    if (cal.SplineFlag != 0) {
        const int k = cal.KnotCount;
        if (k < 2 || cal.KnotPos[1] == cal.KnotPos[k])
            throw Refusal(file, "the calibration " + calName + " has fewer than two distinct knots; nothing converted");
        const long double x1 = cal.KnotPos[1];
        const long double xk = cal.KnotPos[k];
        width = (static_cast<long double>(cal.KnotAngle[k]) - cal.KnotAngle[1]) / ((xk - x1) * 1000);
        first = truncChecked(x1 * 1000 + 0.5L, file, "first channel");
        last = truncChecked(xk * 1000, file, "last channel");
    } else {
        // A polynomial calibration covers every channel of the scan.
        if (size < 2)
            throw Refusal(file, "fewer than two channels to convert");
        width = (static_cast<long double>(lit_.Degree(cal, size)) - lit_.Degree(cal, 1)) / (size - 1);
        first = 1;
        last = size;
    }
    const long double step = static_cast<long double>(truncChecked(width * 1000 + 0.5L, file, "step")) / 1000;
    if (!(step > 0))
        throw Refusal(file, "the calibration " + calName + " gives a step of " + fixedText(static_cast<double>(step), 3) +
                                " degree (angles must grow with the channel); nothing converted");
    first = std::max<std::int64_t>(first, 1);
    last = std::min<std::int64_t>(last, size);
    if (last - first + 1 < 5)
        throw Refusal(file, "the calibration " + calName + " covers fewer than 5 of the scan's channels; nothing converted");
    const int m = static_cast<int>(last - first + 1);

    std::vector<TReal48Array> work(3); // angles, counts, resampled output
    TReal48Array& angle = work[0];
    TReal48Array& count = work[1];
    TReal48Array& output = work[2];
    for (int i = 1; i <= m; ++i) {
        const auto j = static_cast<int>(first) + i - 1;
        angle[i] = Real48::fromValue(lit_.Degree(cal, j));
        count[i] = Real48::fromCount(data[j]);
    }
    const long double a1 = angle[1].value();
    const double start =
        static_cast<double>(static_cast<long double>(truncChecked((a1 + 10 * step) * 1000 + 0.5L, file, "start angle")) / 1000);
    const double stop = static_cast<double>(static_cast<long double>(angle[m - 1].value()) - 10 * step);
    const int points = [&] {
        try {
            return lit_.constantstepTransform(static_cast<std::int16_t>(m), angle, start, stop,
                                              static_cast<double>(step), output, count);
        } catch (const Refusal& e) {
            if (!e.file().empty())
                throw;
            throw Refusal(file, e.what()); // the resampler knows no file: name the scan
        }
    }();
    if (points < 1)
        throw Refusal(file, "the calibrated range holds no point of the constant step; nothing converted");

    auto converted = std::make_unique<std::array<TSingleArray, 2>>();
    TSingleArray& convAngle = (*converted)[0];
    TSingleArray& convIntensity = (*converted)[1];
    std::vector<std::int32_t> rounded(static_cast<std::size_t>(points));
    for (int i = 1; i <= points; ++i) {
        const double v = output[i].value();
        rounded[static_cast<std::size_t>(i - 1)] = roundedCount(v, file, i);
        convIntensity[i] = static_cast<float>(v);
        convAngle[i] = static_cast<float>(static_cast<long double>(i - 1) * step + start);
    }
    for (int i = 1; i <= points; ++i)
        data[i] = rounded[static_cast<std::size_t>(i - 1)];
    work.clear();

    // The RAW file stores a wavelength that matches no anode as a Single.
    const double wavelength = s_.Header.Wavelength;
    if (std::isfinite(wavelength) && std::fabs(wavelength) > std::numeric_limits<float>::max())
        throw Refusal(file, "its wavelength does not fit the 4-byte real of a RAW file; nothing converted");

    // Every output built whole, then put in place together.
    fsio::OutputGroup group = groupFor(options_);
    const std::string twoColumn = twoColumnBytes(outputs[1].path, convAngle, convIntensity, points);
    TRangeInfo& range = s_.Raw.RangeInfo;
    range.Start = static_cast<float>(start);
    range.Step = static_cast<float>(step);
    range.Stop = static_cast<float>(stop);
    range.StepTime = static_cast<float>(static_cast<long double>(s_.Params.AcqTime) / size);
    s_.Header.Size = points;
    group.add(outputs[1].path, twoColumn);
    XyPattern pattern = xyPattern(file, s_.Header, DateOrder::DayMonthYear, s_.Header.Comment1.view(), range, convIntensity, points);
    // The exports of a DAT file hold the 2CL's integers: half away from zero, as its text.
    for (float& v : pattern.Intensity)
        v = static_cast<float>(std::round(static_cast<double>(v)));
    for (const PlannedOutput& o : outputs)
        if (const auto format = exportFormat(o.kind))
            group.add(o.path, exportText(pattern, *format, file, o.path));
    group.add(outputs[0].path, rawBytes(s_.Raw, outputs[0].path, s_.Header, data)); // last: "converted"
    group.commit();
    s_.LastPattern = std::move(pattern);
    s_.Shown.FirstChannel = static_cast<int>(first);
    s_.Shown.LastChannel = static_cast<int>(last);
    for (const PlannedOutput& o : outputs)
        s_.Shown.Written.push_back(o.path);
    ui_.setLabel(LabelId::Raw, s_.RawFileName);
}

// ---------------------------------------------------------------------------------------------
// The RAW command

void TConversion::Bt_RAWClick()
{
    const auto chosen = ui_.chooseFile(FileKind::Raw);
    if (!chosen)
        return;
    loadRaw(*chosen);
    plotAndExportRaw();
}

void TConversion::loadRaw(const std::string& path)
{
    s_.RawFileName = path;
    s_.DatFileName = plannedOutputs(path, options_, {})[0].path;
    allocateData();
    Lect_RAW(s_.Raw, s_.RawFileName, s_.Header, s_.Params, *s_.Data);
    // Only a file read changes what the window shows: after a failed read it goes on showing the
    // previous file's name, memo and pattern.
    s_.Shown = {path, FileKind::Raw, 0, 0, 0, {}};
    ui_.fileRead(FileKind::Raw, path);
    ui_.clearMemo();
    ui_.setLabel(LabelId::Raw, path);
    s_.LastPattern = {};
    ui_.clearPlot();
    ui_.setPlotAxis(PlotAxis::TwoTheta);
    const TRangeInfo& range = s_.Raw.RangeInfo;
    ui_.appendMemo("size : " + intText(s_.Header.Size));
    ui_.appendMemo("step : " + fixedText(range.Step, 4, 7));
    ui_.appendMemo("2th init : " + fixedText(range.Start, 4, 7));
}

XyPattern rawRangePattern(const TRawDatState& s, std::size_t k, TSingleArray& x, TSingleArray& y)
{
    TScanHeader header = s.Header;
    TScanParams params = s.Params;
    TRangeInfo range = s.Raw.RangeInfo;
    auto data = std::make_unique<TData>();
    RangeRecords(s.Raw, k, header, params, range, *data);
    rangePattern(range, *data, header.Size, x, y);
    XyPattern pattern = xyPattern(s.RawFileName, header, DateOrder::MonthDayYear, header.Comment2.view(), range, y, header.Size);
    storedIntensities(pattern, s.Raw, k);
    return pattern;
}

void TConversion::plotAndExportRaw()
{
    const RawModule& raw = s_.Raw;
    const int size = s_.Header.Size;
    TSingleArray& x = *s_.TabX;
    TSingleArray& y = *s_.TabY;
    rangePattern(raw.RangeInfo, *s_.Data, size, x, y);
    for (int i = 1; i <= size; ++i)
        ui_.addPlotPoint(x[i], y[i]);
    ui_.plotFinished();

    const std::size_t ranges = std::max<std::size_t>(raw.Ranges.size(), 1);
    const auto outputs = plannedOutputs(s_.RawFileName, options_, {ranges, raw.MainRange});
    checkOutputs(outputs, s_.RawFileName, {});
    // The one question covers the text file of every range.
    const bool text = ConfirmOverwrite(outputs[0].path);
    // The outputs of each range, which plannedOutputs lists together: found in one pass.
    std::vector<std::span<const PlannedOutput>> outputsOf(ranges);
    for (std::size_t i = 0, j = 0; i < outputs.size(); i = j) {
        while (j < outputs.size() && outputs[j].range == outputs[i].range)
            ++j;
        outputsOf[outputs[i].range] = std::span(outputs).subspan(i, j - i);
    }
    fsio::OutputGroup group = groupFor(options_);
    std::string mainText; // NAME.TXT, put in place last: its presence means "converted"
    XyPattern pattern = addRangeOutputs(group, outputsOf[raw.MainRange], raw.MainRange, s_.Header, s_.Params,
                                        raw.RangeInfo, *s_.Data, x, y, text, &mainText);
    if (ranges > 1) {
        // Every other range from copies of the main records, so the window keeps the main one.
        struct OtherRange {
            TScanHeader Header;
            TScanParams Params;
            TRangeInfo RangeInfo;
            TData Data;
            TSingleArray X, Y;
        };
        auto other = std::make_unique<OtherRange>();
        for (std::size_t r = 0; r < ranges; ++r) {
            if (r == raw.MainRange)
                continue;
            // A stop signal is answered between ranges, not only once the whole file is built.
            if (fsio::commitsStopped())
                throw fsio::Interrupted();
            other->Header = s_.Header;
            other->Params = s_.Params;
            other->RangeInfo = raw.RangeInfo;
            RangeRecords(raw, r, other->Header, other->Params, other->RangeInfo, other->Data);
            rangePattern(other->RangeInfo, other->Data, other->Header.Size, other->X, other->Y);
            addRangeOutputs(group, outputsOf[r], r, other->Header, other->Params, other->RangeInfo, other->Data,
                            other->X, other->Y, text);
        }
    }
    if (text)
        group.add(outputs[0].path, mainText);
    group.commit();
    s_.LastPattern = std::move(pattern);
    for (const PlannedOutput& o : outputs)
        if (text || o.kind != OutputKind::Txt)
            s_.Shown.Written.push_back(o.path);
    if (ranges > 1) {
        std::vector<std::string> names(ranges);
        for (const PlannedOutput& o : outputs)
            if (o.kind == OutputKind::Txt)
                names[o.range] = std::filesystem::path(o.path).filename().string();
        ui_.notice(RangesNotice(raw.MainRange, names));
    }
}

XyPattern TConversion::addRangeOutputs(fsio::OutputGroup& group, std::span<const PlannedOutput> outputs,
                                       std::size_t r, const TScanHeader& header, const TScanParams& params,
                                       const TRangeInfo& range, const TData& data, const TSingleArray& x,
                                       const TSingleArray& y, bool text, std::string* textBytes)
{
    const int size = header.Size;
    XyPattern pattern = xyPattern(s_.RawFileName, header, DateOrder::MonthDayYear, header.Comment2.view(), range, y, size);
    storedIntensities(pattern, s_.Raw, r);
    for (const PlannedOutput& o : outputs) {
        if (o.range != r)
            continue;
        if (o.kind == OutputKind::Txt) {
            if (!text)
                continue;
            auto work = std::make_unique<TReal48Array>();
            for (int i = 1; i <= size; ++i)
                (*work)[i] = Real48::fromCount(data[i]);
            const double start = range.Start;
            const double step = range.Step;
            const double stop = (size - 1) * step + start;
            std::string bytes = lit_.txtBytes(o.path, header, params, *work, start, step, stop);
            if (textBytes)
                *textBytes = std::move(bytes);
            else
                group.add(o.path, bytes);
        } else if (o.kind == OutputKind::TwoColumn) {
            group.add(o.path, twoColumnBytes(o.path, x, y, size));
        } else if (const auto format = exportFormat(o.kind)) {
            group.add(o.path, exportText(pattern, *format, s_.RawFileName, o.path));
        }
    }
    return pattern;
}

} // namespace rawdat
