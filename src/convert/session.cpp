// The two commands of the window, step by step, over the shared state.
#include "convert/session.h"

#include "ulit_dat/errors.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/numtext.h"

#include <cmath>
#include <filesystem>
#include <limits>
#include <new>
#include <vector>

namespace rawdat {

namespace {


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

} // namespace

std::string replaceExtension(const std::string& name, const char* ext)
{
    return (name.size() < 3 ? std::string() : name.substr(0, name.size() - 3)) + ext;
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
    if (n > kDataCapacity)
        throw Refusal(file, "cannot write " + intText(n) + " points; at most " + intText(kDataCapacity));
    std::string out;
    if (n > 0)
        out.reserve(static_cast<std::size_t>(n) * 20);
    for (int i = 1; i <= n; ++i) {
        appendFixed(out, X[i], 3, 7);
        out += ' ';
        appendFixed(out, Y[i], 0, 10);
        out += "\r\n";
    }
    fsio::writeFileAtomic(file, out);
}

bool TConversion::ConfirmOverwrite(const std::string& name)
{
    if (!fsio::opensForWriting(name))
        return true;
    return ui_.askOverwrite(name);
}

bool TConversion::runGuarded(void (TConversion::*command)())
{
    try {
        (this->*command)();
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

void TConversion::Bt_datClick()
{
    const auto chosen = ui_.chooseFile(FileKind::Dat);
    if (!chosen)
        return;
    if (!loadDat(*chosen))
        return;
    s_.RawFileName = replaceExtension(s_.DatFileName, "RAW");
    plotDat();
    if (!ConfirmOverwrite(s_.RawFileName))
        return;
    convertDat();
}

bool TConversion::loadDat(const std::string& path)
{
    s_.DatFileName = path;
    s_.LastPattern = {};
    ui_.setLabel(LabelId::Dat, path);
    allocateData();
    TScanHeader& h = s_.Header;
    if (!lit_.Lect_Dat(s_.DatFileName, h, s_.Params, *s_.Data)) {
        ui_.appendMemo("file not opened");
        return false;
    }
    h.NbScans = 1;

    // The calibration's base name: the first nine characters of CalName's area without spaces
    // (and without zero bytes, which no file name holds).
    std::string base;
    for (char c : h.CalName.area().substr(0, 9))
        if (c != ' ' && c != '\0')
            base += c;
    s_.CalFileName = base + ".CAL";
    // The calibration lies beside the DAT file; files from the instrument's computer often differ
    // in letter case.
    const std::string folder = std::filesystem::path(s_.DatFileName).parent_path().string();
    const bool read = lit_.Lect_CAL(fsio::findFileIgnoringCase(folder, s_.CalFileName), s_.Calibration);
    s_.CalibOK = read;
    if (read)
        s_.CalibEverRead = true;

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

void TConversion::plotDat()
{
    TSingleArray& x = *s_.TabX;
    TSingleArray& y = *s_.TabY;
    const TData& data = *s_.Data;
    ui_.clearPlot();
    for (int i = 1; i <= s_.Header.Size; ++i) {
        x[i] = s_.CalibOK ? static_cast<float>(lit_.Degree(s_.Calibration, i)) : static_cast<float>(i);
        y[i] = static_cast<float>(data[i]);
        ui_.addPlotPoint(x[i], y[i]);
    }
    ui_.plotFinished();
}

void TConversion::convertDat()
{
    const std::string& file = s_.DatFileName;
    const TCalibration& cal = s_.Calibration;
    TData& data = *s_.Data;
    const int size = s_.Header.Size;
    if (!s_.CalibEverRead)
        throw Refusal(file, "no calibration: " + s_.CalFileName + " was not found beside it and no calibration "
                                                                  "has been read before; nothing converted");

    // The constant step, about one channel, rounded half up to 0.001 degree, and the calibrated
    // channel range. Extended precision throughout; each value is rounded only where stored.
    long double width;
    std::int64_t first;
    std::int64_t last;
    if (cal.SplineFlag != 0) {
        const int k = cal.KnotCount;
        if (k < 2 || cal.KnotPos[1] == cal.KnotPos[k])
            throw Refusal(file, "the calibration " + s_.CalFileName + " has fewer than two distinct knots; nothing converted");
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
        throw Refusal(file, "the calibration " + s_.CalFileName + " gives a step of " + fixedText(static_cast<double>(step), 3) +
                                " degree (angles must grow with the channel); nothing converted");
    first = std::max<std::int64_t>(first, 1);
    last = std::min<std::int64_t>(last, size);
    if (last - first + 1 < 5)
        throw Refusal(file, "the calibration " + s_.CalFileName + " covers fewer than 5 of the scan's channels; nothing converted");
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

    // The RAW file stores a wavelength that matches no anode as a Single; one beyond it would
    // fail in Ecr_RAW after the two-column file is written.
    const double wavelength = s_.Header.Wavelength;
    if (std::isfinite(wavelength) && std::fabs(wavelength) > std::numeric_limits<float>::max())
        throw Refusal(file, "its wavelength does not fit the 4-byte real of a RAW file; nothing converted");

    Ecr_2CL(s_.RawFileName, convAngle, convIntensity, points);
    TRangeInfo& range = s_.Raw.RangeInfo;
    range.Start = static_cast<float>(start);
    range.Step = static_cast<float>(step);
    range.Stop = static_cast<float>(stop);
    range.StepTime = static_cast<float>(static_cast<long double>(s_.Params.AcqTime) / size);
    s_.Header.Size = points;
    s_.LastPattern = xyPattern(file, s_.Header, s_.Header.Comment1.view(), range, convIntensity, points);
    ui_.setLabel(LabelId::Raw, s_.RawFileName);
    Ecr_RAW(s_.Raw, s_.RawFileName, s_.Header, data);
}

// ---------------------------------------------------------------------------------------------
// The RAW command

void TConversion::Bt_RAWClick()
{
    const auto chosen = ui_.chooseFile(FileKind::Raw);
    if (!chosen)
        return;
    ui_.clearMemo();
    loadRaw(*chosen);
    plotAndExportRaw();
}

void TConversion::loadRaw(const std::string& path)
{
    s_.RawFileName = path;
    s_.LastPattern = {};
    ui_.setLabel(LabelId::Raw, path);
    s_.DatFileName = replaceExtension(s_.RawFileName, "TXT");
    allocateData();
    Lect_RAW(s_.Raw, s_.RawFileName, s_.Header, s_.Params, *s_.Data);
    ui_.clearPlot();
    const TRangeInfo& range = s_.Raw.RangeInfo;
    ui_.appendMemo("size : " + intText(s_.Header.Size));
    ui_.appendMemo("step : " + fixedText(range.Step, 4, 7));
    ui_.appendMemo("2th init : " + fixedText(range.Start, 4, 7));
}

void TConversion::plotAndExportRaw()
{
    const TRangeInfo& range = s_.Raw.RangeInfo;
    const int size = s_.Header.Size;
    TSingleArray& x = *s_.TabX;
    TSingleArray& y = *s_.TabY;
    const TData& data = *s_.Data;
    for (int i = 1; i <= size; ++i) {
        x[i] = static_cast<float>(static_cast<long double>(i - 1) * range.Step + range.Start);
        y[i] = static_cast<float>(data[i]);
        ui_.addPlotPoint(x[i], y[i]);
    }
    ui_.plotFinished();

    auto work = std::make_unique<TReal48Array>();
    const double start = range.Start;
    const double step = range.Step;
    const double stop = (size - 1) * step + start;
    for (int i = 1; i <= size; ++i)
        (*work)[i] = Real48::fromCount(data[i]);
    if (ConfirmOverwrite(s_.DatFileName))
        lit_.Ecr_TXT(s_.DatFileName, s_.Header, s_.Params, *work, start, step, stop);
    Ecr_2CL(s_.DatFileName, x, y, size);
    s_.LastPattern = xyPattern(s_.RawFileName, s_.Header, s_.Header.Comment2.view(), range, y, size);
}

} // namespace rawdat
