#include "bad_values.h"

#include "fmt_raw/raw.h"
#include "fmt_raw/raw_images.h"
#include "ulit_dat/f1b_images.h"

#include <cmath>
#include <limits>
#include <memory>

namespace rawdat::test {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// ---- the files of a case ----

// S.DAT of 300 channels and its calibration C.CAL (knots at channels 20, 80, ..., 260), with
// the outputs of an earlier conversion beside them.
struct DatCase {
    std::unique_ptr<DatScan> scan = std::make_unique<DatScan>(datScan(300, "C"));
    TCalibration cal = lineCalibration(20, 260, 10.0, 0.02);
    std::function<void(Image&)> editDat = [](Image&) {};
    std::function<void(Image&)> editCal = [](Image&) {};
    bool calFile = true;
};

void writeDatCase(const TempDir& dir, const DatCase& c)
{
    TLitdat lit;
    lit.Ecr_DAT(dir.file("S.DAT"), c.scan->h, c.scan->p, c.scan->d);
    Image dat = readBytes(dir.file("S.DAT"));
    c.editDat(dat);
    writeBytes(dir.file("S.DAT"), dat);
    if (c.calFile) {
        lit.Ecr_CAL(dir.file("C.CAL"), c.cal);
        Image cal = readBytes(dir.file("C.CAL"));
        c.editCal(cal);
        writeBytes(dir.file("C.CAL"), cal);
    }
    writeText(dir.file("S.RAW"), "earlier RAW file");
    writeText(dir.file("S.2CL"), "earlier two-column file");
}

// Channel `ch` of a DAT file (its block framing skipped) set to v.
void putChannel(Image& dat, int ch, float v)
{
    put<float>(dat, 1045 + 130 * ((ch - 1) / 32) + 1 + 4 * ((ch - 1) % 32), v);
}

std::function<std::string(const TempDir&)> dat(DatCase c)
{
    auto shared = std::make_shared<DatCase>(std::move(c));
    return [shared](const TempDir& dir) {
        writeDatCase(dir, *shared);
        return dir.file("S.DAT");
    };
}

DatCase withCalibration(const std::function<void(TCalibration&)>& edit)
{
    DatCase c;
    edit(c.cal);
    return c;
}

// S.RAW with the outputs of an earlier conversion beside it.
std::function<std::string(const TempDir&)> raw(const Image& image)
{
    return [image](const TempDir& dir) {
        writeBytes(dir.file("S.RAW"), image);
        writeText(dir.file("S.TXT"), "earlier TXT file");
        writeText(dir.file("S.2CL"), "earlier two-column file");
        writeText(dir.file("S.stp"), "earlier step-scan file");
        return dir.file("S.RAW");
    };
}

Image raw2With(
    std::vector<float> values, const std::function<void(Raw2Range&)>& edit = [](Raw2Range&) {})
{
    Raw2Range r;
    r.values = std::move(values);
    edit(r);
    return raw2Image({r});
}

// run.F1B and run.par (or no parameter file), with the outputs of an earlier conversion.
std::function<std::string(const TempDir&)> f1b(const F1bSpec& layout, std::optional<std::string> params)
{
    return [layout, params](const TempDir& dir) {
        writeText(dir.file("run.F1B"), makeF1b(layout));
        if (params)
            writeText(dir.file("run.par"), *params);
        writeText(dir.file("run.fdt"), "earlier FDT file");
        writeText(dir.file("run.cal"), "earlier CAL file");
        return dir.file("run.F1B");
    };
}

// x.fdt: one scan of 1024 channels, edited.
std::function<std::string(const TempDir&)> fdt(const std::function<void(Image&)>& edit)
{
    return [edit](const TempDir& dir) {
        const std::string path = writeFdt(dir, "x.fdt");
        Image b = readBytes(path);
        edit(b);
        writeBytes(path, b);
        return path;
    };
}

// x.dtb: a header, `entries` entries of `type` (6 sub-records' room each), a trailer.
std::function<std::string(const TempDir&)> dtb(std::uint16_t type, std::uint16_t entries, std::size_t bytes)
{
    return [=](const TempDir& dir) {
        Image b(bytes, 0);
        put<std::uint16_t>(b, 4, type);
        put<std::uint16_t>(b, 8, entries);
        writeBytes(dir.file("x.dtb"), b);
        return dir.file("x.dtb");
    };
}

} // namespace

std::string inFolder(std::string message, const TempDir& dir)
{
    for (std::size_t at; (at = message.find("{}")) != std::string::npos;)
        message.replace(at, 2, dir.path().string());
    return message;
}

std::vector<BadValue> badValues()
{
    DatCase big;
    big.scan = std::make_unique<DatScan>(datScan(kDataCapacity, "C"));
    // Angles 10 + 0.0014 channel from channel 20 to 32000: a step of 0.001 from 10.028 + 10 steps
    // to the angle of channel 31999 less 10 steps.
    big.cal = lineCalibration(20, 32000, 10.0, 0.0014);

    DatCase noCal;
    noCal.calFile = false;
    DatCase farWavelength;
    farWavelength.scan->h.Wavelength = 1e300;

    F1bSpec one;
    one.n = 1;
    F1bSpec good;
    good.n = 40;
    good.scans = 1;
    std::string hugeTheta = makeParams(1);
    hugeTheta.replace(18, 8, "   1e39 ");

    Raw1Fields raw1Count;
    raw1Count.values = {1, 2};
    raw1Count.steps = 40000;
    Raw1Fields raw1Start;
    raw1Start.values = {1, 2};
    raw1Start.start728 = 1e300;
    Image variant = raw2With({1, 2});
    putText(variant, 0, "RAW3");
    Image cut = raw2With({1, 2, 3, 4});
    cut.resize(cut.size() - 3);

    std::string manyLines = "DATE 12/03/98\r\n 10.000 0.020    20.000\r\n";
    for (int i = 0; i <= kDataCapacity; ++i)
        manyLines += "1\r\n";

    const char* eof = "Lecture au-delà de la fin de fichier";
    return {
        // ---- the DAT command ----
        {"DAT count beyond Data", Via::DatCommand,
         dat({.editDat = [](Image& b) { put<std::uint16_t>(b, 2, 40000); }}), Kind::Refusal,
         "{}/S.DAT: declares 40000 channels; at most 32767 can be read"},
        {"DAT NaN intensity", Via::DatCommand, dat({.editDat = [](Image& b) { putChannel(b, 5, kNaN); }}),
         Kind::Refusal, "{}/S.DAT: channel 5 holds an intensity that is not a finite 32-bit count (nan)"},
        {"DAT infinite intensity", Via::DatCommand,
         dat({.editDat = [](Image& b) { putChannel(b, 40, -kInf); }}), Kind::Refusal,
         "{}/S.DAT: channel 40 holds an intensity that is not a finite 32-bit count (-inf)"},
        {"DAT intensity beyond int32", Via::DatCommand,
         dat({.editDat = [](Image& b) { putChannel(b, 7, 3e9f); }}), Kind::Refusal,
         "{}/S.DAT: channel 7 holds an intensity that is not a finite 32-bit count (3000000000)"},
        {"DAT cut in its counts", Via::DatCommand, dat({.editDat = [](Image& b) { b.resize(2000); }}),
         Kind::InOut, std::string(eof) + " ({}/S.DAT, byte 2000)"},
        {"PNG image named .DAT", Via::DatCommand,
         dat({.editDat = [](Image& b) { putText(b, 0, "\x89PNG\r\n\x1A\n"); }}), Kind::Refusal,
         "{}/S.DAT: not a DAT file (it begins with 0x89 \"PNG\", as a PNG image does)"},
        {"CAL knots decreasing", Via::DatCommand,
         dat(withCalibration([](TCalibration& c) { c.KnotPos[3] = 0.05; })), Kind::Refusal,
         "{}/C.CAL: knot positions of the spline calibration do not increase (knot 3 at 0.0500 after "
         "0.0800)"},
        {"CAL knot count 101", Via::DatCommand,
         dat(withCalibration([](TCalibration& c) { c.KnotCount = 101; })), Kind::Refusal,
         "{}/C.CAL: spline calibration with 101 knots; 1 to 100 expected"},
        {"CAL knot count 0", Via::DatCommand, dat(withCalibration([](TCalibration& c) { c.KnotCount = 0; })),
         Kind::Refusal, "{}/C.CAL: spline calibration with 0 knots; 1 to 100 expected"},
        {"CAL NaN knot", Via::DatCommand,
         dat(withCalibration([](TCalibration& c) { c.KnotAngle[2] = std::nan(""); })), Kind::Refusal,
         "{}/C.CAL: knot 2 of the spline calibration holds a value that is not a finite number"},
        {"CAL infinite coefficient", Via::DatCommand,
         dat(withCalibration([](TCalibration& c) { c.SplineD[4] = HUGE_VAL; })), Kind::Refusal,
         "{}/C.CAL: knot 4 of the spline calibration holds a value that is not a finite number"},
        // Knot values 1..100 are positions; values 101.. angle, b, c, d knot by knot. Running value
        // 237 (SplineB of knot 35) starts at 108 + 8 * 236 + 2 * 14 = 2024: the cut at 2030 falls in it.
        {"CAL cut in its knots", Via::DatCommand, dat({.editCal = [](Image& b) { b.resize(2030); }}),
         Kind::InOut, std::string(eof) + " ({}/C.CAL, byte 2030)"},
        {"no CAL file", Via::DatCommand, dat(std::move(noCal)), Kind::Refusal,
         "{}/S.DAT: no calibration: C.CAL was not found beside it and no calibration has been read before; "
         "nothing converted",
         // The converter, whose files never share a calibration, names its option instead.
         "{}/S.DAT: no calibration: C.CAL was not found beside it; nothing converted (use --cal FILE to give "
         "one)"},
        {"one knot", Via::DatCommand, dat(withCalibration([](TCalibration& c) { c.KnotCount = 1; })),
         Kind::Refusal,
         "{}/S.DAT: the calibration C.CAL has fewer than two distinct knots; nothing converted"},
        // The step is rounded half up: Trunc(-0.02 * 1000 + 0.5) / 1000.
        {"angles falling", Via::DatCommand,
         dat(withCalibration([](TCalibration& c) { c = lineCalibration(20, 260, 40.0, -0.02); })),
         Kind::Refusal,
         "{}/S.DAT: the calibration C.CAL gives a step of -0.019 degree (angles must grow with the channel); "
         "nothing converted"},
        {"step rounds to 0", Via::DatCommand,
         dat(withCalibration([](TCalibration& c) { c = lineCalibration(20, 260, 10.0, 0.0004); })),
         Kind::Refusal,
         "{}/S.DAT: the calibration C.CAL gives a step of 0.000 degree (angles must grow with the channel); "
         "nothing converted"},
        {"knots beyond the scan", Via::DatCommand,
         dat(withCalibration([](TCalibration& c) { c = lineCalibration(2000, 3000, 10.0, 0.02); })),
         Kind::Refusal,
         "{}/S.DAT: the calibration C.CAL covers fewer than 5 of the scan's channels; nothing converted"},
        {"more points than Data", Via::DatCommand, dat(std::move(big)), Kind::Refusal,
         "{}/S.DAT: resampling from 10.038000 to 54.788600 by 0.001000 gives 44752 values; an output array "
         "holds at most 32767"},
        {"wavelength beyond a Single", Via::DatCommand, dat(std::move(farWavelength)), Kind::Refusal,
         "{}/S.DAT: its wavelength does not fit the 4-byte real of a RAW file; nothing converted"},

        // ---- the RAW command ----
        {"RAW2 count beyond Data", Via::RawCommand,
         raw(raw2With({1}, [](Raw2Range& r) { r.stepField = 40000; })), Kind::Refusal,
         "{}/S.RAW: range 1 declares a negative step count (-25536)"},
        {"RAW1 count beyond Data", Via::RawCommand, raw(raw1Image(raw1Count)), Kind::Refusal,
         "{}/S.RAW: range 1 declares 40000 steps, more than the 32767 that Data holds"},
        {"RAW NaN intensity", Via::RawCommand, raw(raw2With({1, 2, kNaN})), Kind::Refusal,
         "{}/S.RAW: range 1, step 3: the intensity is not a number"},
        {"RAW infinite intensity", Via::RawCommand, raw(raw2With({kInf})), Kind::Refusal,
         "{}/S.RAW: range 1, step 1: the intensity is infinite"},
        {"RAW intensity beyond int32", Via::RawCommand, raw(raw2With({0, -3e9f})), Kind::Refusal,
         "{}/S.RAW: range 1, step 2: the intensity -3000000000 does not fit a 32-bit count"},
        {"unknown RAW variant", Via::RawCommand, raw(variant), Kind::Refusal,
         "{}/S.RAW: not a RAW file: it begins with none of \"RAW2\", \"RAW1\" and \"RAW4.00\""},
        {"RAW2 without a range", Via::RawCommand, raw(raw2Image({}, 0)), Kind::Refusal,
         "{}/S.RAW: declares no range (range count 0)"},
        {"RAW2 header field 57", Via::RawCommand,
         raw(raw2With({1}, [](Raw2Range& r) { r.headerField = 57; })), Kind::Refusal,
         "{}/S.RAW: range 1 declares a header of 57 bytes, shorter than the 58 bytes of its fields"},
        {"RAW NaN start", Via::RawCommand, raw(raw2With({1}, [](Raw2Range& r) { r.start = kNaN; })),
         Kind::Refusal, "{}/S.RAW: range 1: its start or step angle is not a finite number"},
        {"RAW1 start beyond a Single", Via::RawCommand, raw(raw1Image(raw1Start)), Kind::Float,
         "Débordement de virgule flottante"},
        {"RAW cut in its counts", Via::RawCommand, raw(cut), Kind::InOut,
         std::string(eof) + " ({}/S.RAW, byte 327)"},
        {"RAW zero step", Via::RawCommand, raw(raw2With({1, 2}, [](Raw2Range& r) { r.step = 0; })),
         Kind::Refusal, "{}/S.TXT: the scan's step is 0 or its range is not finite; no points to write"},
        {"RAW zero step, step-scan export", Via::ExportSteps,
         raw(raw2With({1, 2}, [](Raw2Range& r) { r.step = 0; })), Kind::Refusal,
         "{}/S.stp: the scan's step is 0 or its range is not finite; no points to write"},

        // ---- the auxiliary formats ----
        {"F1B channel count 1", Via::F1b, f1b(one, makeParams(3)), Kind::Refusal,
         "{}/run.F1B: channel count 1 is below 2"},
        {"F1B value beyond a Single", Via::F1b, f1b(good, hugeTheta), Kind::Float,
         "Débordement de virgule flottante"},
        {"F1B without its parameter file", Via::F1b, f1b(good, std::nullopt), Kind::InOut,
         "Fichier introuvable ({}/run.par)"},
        {"FDT KChannels 32", Via::Fdt, fdt([](Image& b) { b[0] = 32; }), Kind::Refusal,
         "{}/x.fdt: KChannels is 32: a scan of 1024 x KChannels counts must fit the 32767 entries of Data "
         "(KChannels 0 to 31)"},
        {"FDT cut in its scan", Via::FdtRecord, fdt([](Image& b) { b.resize(18000); }), Kind::InOut,
         std::string(eof) + " ({}/x.fdt, byte 18000)"},
        {"DTB entry type 6", Via::Dtb, dtb(6, 0, 506), Kind::Refusal, "{}/x.dtb: entry type 6 is above 5"},
        {"DTB more entries than bytes", Via::Dtb, dtb(5, 3, 700), Kind::Refusal,
         "{}/x.dtb: declares 3 entries of 156 bytes, which need 974 bytes; the file holds 700"},
        {"TXT more intensity lines than Data", Via::TxtReader,
         [manyLines](const TempDir& dir) {
             writeText(dir.file("S.TXT"), manyLines);
             return dir.file("S.TXT");
         },
         Kind::Refusal, "{}/S.TXT: holds 32768 intensity lines; at most 32767 can be read"},
    };
}

// ---- running a case ----

} // namespace rawdat::test
