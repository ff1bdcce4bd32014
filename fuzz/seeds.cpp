// rawdat-fuzz-seeds OUTDIR: writes the seed inputs of every fuzzer, made by the project's own
// writers, into OUTDIR/<fuzzer>/, plus the real instrument RAW files. The committed corpora
// (fuzz/corpus/) grew from these seeds by fuzzing and were minimised with -merge=1.
#include "harness.h"

#include "fmt_raw/raw.h"
#include "fmt_raw/raw_images.h"
#include "ulit_dat/binio.h"
#include "ulit_dat/dtb.h"
#include "ulit_dat/f1b_images.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/litdat.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace fs = std::filesystem;
using namespace rawdat;

namespace {

struct Scan {
    TScanHeader h;
    TScanParams p;
    TData d;
};

std::unique_ptr<Scan> scan(int size, const std::string& calName)
{
    auto s = std::make_unique<Scan>();
    s->h.Size = size;
    s->h.Date = "12/03/98 14:25:36";
    s->h.Comment1 = "Si standard";
    s->h.Comment2 = "second line";
    s->h.CalName = calName;
    s->h.Voltage = "40";
    s->h.Current = "30";
    s->h.Wavelength = 1.54056;
    s->p.AcqTime = 600.0f;
    for (int i = 1; i <= size; ++i)
        s->d[i] = 100 + static_cast<int>(5000.0 * std::exp(-std::pow((i - size / 2.0) / 9.0, 2)));
    return s;
}

// Knots from channel `first` to `last`, angle = offset + slope * channel + a small curvature.
TCalibration spline(double first, double last, int knots, double curve)
{
    TCalibration c;
    c.CalWavelength = 1.54056;
    c.SplineFlag = 1;
    c.KnotCount = static_cast<std::int16_t>(knots);
    for (int i = 1; i <= knots; ++i) {
        const double ch = first + (last - first) * (i - 1) / (knots - 1);
        c.KnotPos[i] = ch / 1000.0;
        c.KnotAngle[i] = 5.0 + 0.03 * ch + curve * ch * ch;
        c.SplineB[i] = 30.0 + 2000.0 * curve * ch;
    }
    return c;
}

TCalibration polynomial()
{
    TCalibration c;
    c.CalWavelength = 1.54056;
    c.PolyCoef[1] = 5.0;
    c.PolyCoef[2] = 0.025;
    c.PolyCoef[3] = 1e-7;
    return c;
}

// A DTB file of `entries` entries of `type`, every value distinct (layout in ulit_dat/dtb.h).
std::string dtbFile(std::uint16_t type, std::uint16_t entries)
{
    ByteWriter w;
    w.u16(1);
    w.u16(2);
    w.u16(type);
    w.u16(4);
    w.u16(entries);
    double v = 0.5;
    for (int i = 0; i < 2; ++i)
        w.f64(v++);
    for (int i = 0; i < 2; ++i) {
        w.u16(static_cast<std::uint16_t>(10 + i));
        w.f64(v++);
    }
    for (int i = 0; i < 7; ++i)
        w.f64(v++);
    w.fill(400, 0x20);
    w.u16(502);
    for (int e = 0; e < entries; ++e) {
        for (int j = 0; j < dtbSubRecords(type); ++j) {
            w.f64(v++);
            w.f64(v++);
            w.u16(0);
        }
        w.f64(0.0);
        w.f64(0.0);
        w.fill(32, static_cast<std::uint8_t>(e));
    }
    w.u16(0xF1F1);
    return std::string(w.bytes().begin(), w.bytes().end());
}

std::string bytesOf(const std::string& path)
{
    const Bytes b = fsio::readFile(path);
    return std::string(b.begin(), b.end());
}

class SeedWriter {
public:
    explicit SeedWriter(fs::path out) : out_(std::move(out)), work_(out_ / ".work")
    {
        fs::create_directories(work_);
    }
    ~SeedWriter() { fs::remove_all(work_); }

    // The bytes a writer makes, through a file in the work folder.
    std::string made(const std::function<void(const std::string&)>& write)
    {
        const std::string path = (work_ / "file").string();
        write(path);
        return bytesOf(path);
    }
    void put(const std::string& fuzzer, const std::string& name, const std::string& bytes)
    {
        fs::create_directories(out_ / fuzzer);
        fsio::writeFileAtomic((out_ / fuzzer / name).string(), bytes);
        ++count_;
    }
    int count() const { return count_; }

private:
    fs::path out_;
    fs::path work_;
    int count_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: rawdat-fuzz-seeds OUTDIR\n");
        return 2;
    }
    SeedWriter w{fs::path(argv[1])};
    TLitdat lit;

    // DAT: no channels, a count that ends inside a block, whole blocks, a detector-sized scan.
    for (int size : {0, 37, 64, 1024}) {
        const auto s = scan(size, "C");
        w.put("dat", "size" + std::to_string(size) + ".DAT",
              w.made([&](auto& p) { lit.Ecr_DAT(p, s->h, s->p, s->d); }));
    }

    // CAL: polynomial, short and full splines.
    const std::string poly = w.made([&](auto& p) { lit.Ecr_CAL(p, polynomial()); });
    const std::string spline5 = w.made([&](auto& p) { lit.Ecr_CAL(p, spline(20.4, 240.0, 5, 0.0)); });
    const std::string spline100 = w.made([&](auto& p) { lit.Ecr_CAL(p, spline(10, 1000, 100, 2e-6)); });
    w.put("cal", "polynomial.CAL", poly);
    w.put("cal", "spline5.CAL", spline5);
    w.put("cal", "spline100.CAL", spline100);

    // TXT: as Ecr_TXT writes them, and with LF line ends.
    for (int size : {1, 12, 300}) {
        const auto s = scan(size, "C");
        auto values = std::make_unique<TReal48Array>();
        for (int i = 1; i <= size; ++i)
            (*values)[i] = Real48::fromValue(s->d[i]);
        const std::string txt = w.made(
            [&](auto& p) { lit.Ecr_TXT(p, s->h, s->p, *values, 10.0, 0.02, 10.0 + 0.02 * (size - 1)); });
        w.put("txt", "points" + std::to_string(size) + ".TXT", txt);
        if (size == 12) {
            std::string lf;
            for (char c : txt)
                if (c != '\r')
                    lf += c;
            w.put("txt", "points12-lf.TXT", lf);
        }
    }

    // RAW: RAW2 as Ecr_RAW writes it, the earlier converters' 60-byte field, two ranges, and the
    // real RAW1 files.
    std::vector<std::pair<std::string, std::string>> raws;
    for (int size : {1, 50, 700}) {
        auto s = scan(size, "C");
        RawModule m;
        m.RangeInfo = {10.0f, 0.0f, 0.02f, 1.0f};
        raws.emplace_back("raw2-" + std::to_string(size) + ".RAW",
                          w.made([&](auto& p) { Ecr_RAW(m, p, s->h, s->d); }));
    }
    {
        std::string legacy = raws[1].second;
        legacy[256] = 60;
        raws.emplace_back("raw2-field60.RAW", legacy);
        std::string two = raws[1].second;
        two[4] = 2;
        two += raws[0].second.substr(256);
        raws.emplace_back("raw2-two-ranges.RAW", two);
    }
    for (const char* real : {"raw/format1.raw", "raw/BT86.raw", "raw/Cu3Au-1.raw", "raw4/TwoTheta_scan_scrambled.raw"})
        raws.emplace_back(fs::path(real).filename().string(), bytesOf(std::string(RAWDAT_TESTDATA) + "/" + real));
    for (const auto& [name, bytes] : raws) {
        w.put("raw", name, bytes);
        w.put("convert_raw", name, bytes);
    }

    // RAW4: the real file, and three ranges (records of 8, 4 and 12 bytes, the last without
    // steps) after named texts, a segment of an unknown kind and the X-ray source.
    w.put("raw4", "TwoTheta_scan_scrambled.raw", raws.back().second);
    {
        using namespace rawdat::test;
        Raw4Range a, b, c;
        a.values = {1, 2.5f, 3.5f, -4, 1e6f};
        b.kind = 160;
        b.recordSize = 4;
        b.start = 30.0;
        b.values = {7, 8, 9};
        c.recordSize = 12;
        c.drives = 0;
        const Image image = raw4Image({raw4Text("SAMPLEID", "sample\t1"), raw4Text("COMMENT", "a comment"),
                                       raw4Segment(99, Image(12, 0xEE)), raw4Source(1.78897)},
                                      {a, b, c});
        w.put("raw4", "three-ranges.raw", std::string(image.begin(), image.end()));
    }

    // DAT command: the CAL file's bytes, then the DAT file's (harness.h: splitInput).
    struct Pair {
        const char* name;
        std::string cal;
        int size;
    };
    const Pair pairs[] = {
        {"spline5-256", spline5, 256}, {"polynomial-128", poly, 128}, {"spline100-1024", spline100, 1024}};
    for (const auto& pr : pairs) {
        const auto s = scan(pr.size, "C");
        const std::string dat = w.made([&](auto& p) { lit.Ecr_DAT(p, s->h, s->p, s->d); });
        w.put("convert_dat", pr.name, fuzz::joinParts(pr.cal, dat));
    }

    // The bundled sample: a detector scan of 4096 channels and its spline calibration.
    const std::string sampleDat = bytesOf(std::string(RAWDAT_SAMPLES) + "/LAB6.DAT");
    const std::string sampleCal = bytesOf(std::string(RAWDAT_SAMPLES) + "/CPS120.CAL");
    w.put("dat", "LAB6.DAT", sampleDat);
    w.put("cal", "CPS120.CAL", sampleCal);
    w.put("convert_dat", "LAB6-CPS120", fuzz::joinParts(sampleCal, sampleDat));

    // FDT: two scans of 1024 channels; a header without scans.
    for (int scans : {0, 2}) {
        const auto s = scan(1024, "C");
        s->h.KChannels = 1;
        s->h.NbScans = static_cast<std::int16_t>(scans);
        w.put("fdt", "scans" + std::to_string(scans) + ".fdt", w.made([&](auto& p) {
            lit.writeInitFDT(p, s->h);
            for (int k = 1; k <= scans; ++k)
                lit.EcrScanFDT(k, p, s->p, s->h, s->d);
        }));
    }

    // DTB: each kind of entry.
    for (std::uint16_t type : {0, 2, 5})
        w.put("dtb", "type" + std::to_string(type) + ".dtb", dtbFile(type, 2));

    // F1B: a short and a long scan, with their parameter files (harness.h: splitInput).
    for (auto [n, scans] : {std::pair{20, 2}, std::pair{1280, 1}}) {
        test::F1bSpec layout;
        layout.n = n;
        layout.scans = scans;
        w.put("f1b", "n" + std::to_string(n) + "-scans" + std::to_string(scans),
              fuzz::joinParts(test::makeParams(scans), test::makeF1b(layout)));
    }

    std::printf("%d seeds written to %s\n", w.count(), argv[1]);
    return 0;
}
