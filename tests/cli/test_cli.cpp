// rawdat-convert end to end: output files, messages, exit status, parallel runs.
#include "convert/fixtures.h"
#include "fmt_raw/raw_images.h"
#include "reliability/reliability.h"
#include "testutil.h"
#include "ulit_dat/f1b_images.h"
#include "ulit_dat/litdat.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sys/wait.h>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

// Runs rawdat-convert with `args` (already quoted) in `folder`.
CliRun convert(const std::string& args, const fs::path& folder)
{
    const std::string errFile = (folder / ".stderr").string();
    const std::string cmd = "cd '" + folder.string() + "' && " + converterCommand() + " " + args + " 2>'" + errFile + "'";
    CliRun r;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = readText(errFile);
    fs::remove(errFile);
    return r;
}

void copySample(const TempDir& dir)
{
    for (const char* f : {"LAB6.DAT", "CPS120.CAL"})
        fs::copy_file(fs::path(RAWDAT_SAMPLES) / f, dir.path() / f);
}

} // namespace

TEST(Cli, ConvertsTheSampleAndItsRawFile)
{
    TempDir dir;
    copySample(dir);
    CliRun r = convert("LAB6.DAT", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "1 file: 1 converted, 0 failed\n");
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"CPS120.CAL", "LAB6.2CL", "LAB6.DAT", "LAB6.RAW"}));
    // The RAW2 name field holds the first 32 characters of the absolute path.
    const auto raw = readBytes(dir.file("LAB6.RAW"));
    std::string name(raw.begin() + 8, raw.begin() + 40);
    std::string expected = asConverterSpellsIt(dir.file("LAB6.RAW")).substr(0, 32);
    expected.resize(32, ' ');
    EXPECT_EQ(name, expected);

    r = convert("--force LAB6.RAW", dir.path()); // LAB6.2CL exists
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir.file("LAB6.TXT")));
}

TEST(Cli, ExistingOutputsAreKeptWithoutForce)
{
    // Without --force a file any of whose outputs exists is skipped whole (once a RAW file whose
    // TXT file existed still had its two-column file replaced).
    TempDir dir;
    copySample(dir);
    writeText(dir.file("LAB6.RAW"), "old raw");
    CliRun r = convert("LAB6.DAT", dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "LAB6.DAT: kept existing LAB6.RAW (use --force to replace)\n"
                     "1 file: 0 converted, 1 skipped (output exists), 0 failed\n");
    EXPECT_EQ(readText(dir.file("LAB6.RAW")), "old raw");
    EXPECT_FALSE(fs::exists(dir.file("LAB6.2CL")));

    r = convert("--force LAB6.DAT", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(readText(dir.file("LAB6.RAW")), "old raw");

    writeText(dir.file("LAB6.TXT"), "old txt");
    writeText(dir.file("LAB6.2CL"), "old 2cl");
    r = convert("LAB6.RAW", dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "LAB6.RAW: kept existing LAB6.TXT (use --force to replace)\n"
                     "1 file: 0 converted, 1 skipped (output exists), 0 failed\n");
    EXPECT_EQ(readText(dir.file("LAB6.TXT")), "old txt");
    EXPECT_EQ(readText(dir.file("LAB6.2CL")), "old 2cl");
}

// A RAW2 file of three ranges (the last its main one, the second without a step): each range's
// files are those of a file holding that range alone.
TEST(Cli, EveryRangeOfARawFileHasItsOwnFiles)
{
    TempDir dir;
    std::vector<Raw2Range> ranges(3);
    ranges[0].values = {1.0f, 2.5f, 1e6f};
    ranges[0].stepTime = 2.0f;
    ranges[2].start = 30.0f;
    ranges[2].step = 0.05f;
    ranges[2].theta = 15.0f;
    ranges[2].values = {7.0f, 8.0f, 9.0f, -4.0f};
    writeBytes(dir.file("M.raw"), raw2Image(ranges));
    for (std::size_t k = 0; k < 3; ++k)
        writeBytes(dir.file("R" + std::to_string(k + 1) + ".raw"), raw2Image({ranges[k]}));
    const CliRun r = convert("M.raw R1.raw R2.raw R3.raw", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "M.raw: 3 ranges; M.TXT holds range 3, ranges 1 and 2 are in M_1.TXT, M_2.TXT\n"
                     "4 files: 4 converted, 0 failed\n");
    EXPECT_EQ(listFolder(dir.path()),
              (std::vector<std::string>{"M.2CL", "M.TXT", "M.raw", "M_1.2CL", "M_1.TXT", "M_2.2CL", "M_2.TXT",
                                        "R1.2CL", "R1.TXT", "R1.raw", "R2.2CL", "R2.TXT", "R2.raw", "R3.2CL",
                                        "R3.TXT", "R3.raw"}));
    for (const auto& [ours, alone] : {std::pair{"M_1", "R1"}, {"M_2", "R2"}, {"M", "R3"}}) {
        for (const char* ext : {".TXT", ".2CL"})
            EXPECT_EQ(readText(dir.file(ours + std::string(ext))),
                      readText(dir.file(alone + std::string(ext))))
                << ours << ext;
    }
    EXPECT_EQ(readText(dir.file("M_2.2CL")), "");
    EXPECT_NE(readText(dir.file("M_1.TXT")), readText(dir.file("M.TXT")));
}

TEST(Cli, FailuresAreOneLineEachAndTheOthersStillConvert)
{
    TempDir dir;
    copySample(dir);
    TLitdat lit;
    DatScan s = datScan(256, "NOCAL");
    lit.Ecr_DAT(dir.file("B.DAT"), s.h, s.p, s.d);
    writeText(dir.file("C.RAW"), "RAW9 and nothing else");
    writeText(dir.file("notes.txt"), "hello");
    CliRun r = convert("B.DAT LAB6.DAT C.RAW notes.txt missing.DAT", dir.path());
    EXPECT_EQ(r.status, 1);
    // Each file named once, as given.
    EXPECT_EQ(r.err,
              "B.DAT: no calibration: NOCAL.CAL was not found beside it; nothing converted (use --cal "
              "FILE to give one)\n"
              "C.RAW: not a RAW file: it begins with none of \"RAW2\", \"RAW1\" and \"RAW4.00\"\n"
              "notes.txt: not a DAT or RAW file (neither its first bytes nor its extension say which)\n"
              "missing.DAT: Fichier introuvable\n"
              "5 files: 1 converted, 4 failed\n");
    EXPECT_TRUE(fs::exists(dir.file("LAB6.RAW")));
    EXPECT_FALSE(fs::exists(dir.file("B.RAW")));
    EXPECT_FALSE(fs::exists(dir.file("C.TXT")));
}

TEST(Cli, ParallelOutputIsIdentical)
{
    TempDir one, two;
    TLitdat lit;
    const TCalibration cal = lineCalibration(20.4, 2000.9, 8.0, 0.029);
    std::string names;
    for (const TempDir* d : {&one, &two}) {
        lit.Ecr_CAL(d->file("L.CAL"), cal);
        for (int i = 0; i < 12; ++i) {
            DatScan s = datScan(2048 + 32 * i, "L");
            lit.Ecr_DAT(d->file("S" + std::to_string(i) + ".DAT"), s.h, s.p, s.d);
        }
    }
    for (int i = 0; i < 12; ++i)
        names += " S" + std::to_string(i) + ".DAT";
    ASSERT_EQ(convert("--jobs 1" + names, one.path()).status, 0);
    ASSERT_EQ(convert("--jobs=3" + names, two.path()).status, 0);
    const auto files = listFolder(one.path());
    ASSERT_EQ(files.size(), 1u + 12 * 3);
    ASSERT_EQ(files, listFolder(two.path()));
    for (const auto& f : files) {
        if (f.ends_with(".RAW"))
            continue; // the name field holds each folder's own path
        EXPECT_EQ(readBytes(one.file(f)), readBytes(two.file(f))) << f;
    }
    for (int i = 0; i < 12; ++i) {
        auto a = readBytes(one.file("S" + std::to_string(i) + ".RAW"));
        auto b = readBytes(two.file("S" + std::to_string(i) + ".RAW"));
        ASSERT_EQ(a.size(), b.size());
        EXPECT_TRUE(std::equal(a.begin() + 40, a.end(), b.begin() + 40)) << i;
    }
}

TEST(Cli, InfoPrintsTheMemoLinesInUtf8)
{
    TempDir dir;
    copySample(dir);
    TLitdat lit;
    DatScan s = datScan(64, "CPS120");
    s.h.Comment1 = "caf\xE9 \x80";
    lit.Ecr_DAT(dir.file("E.DAT"), s.h, s.p, s.d);
    CliRun r = convert("info E.DAT", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\ncomment café €"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 10);
    EXPECT_EQ(r.out.substr(0, 36), "calibration : calibOK\ntaille : 64\nac");

    ASSERT_EQ(convert("LAB6.DAT", dir.path()).status, 0);
    r = convert("info LAB6.RAW", dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 7), "size : ");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3);
    EXPECT_NE(r.out.find("\nstep :  0.0290\n2th init : "), std::string::npos) << r.out;
    EXPECT_EQ(listFolder(dir.path()).size(), 5u); // info writes nothing

    r = convert("info nothing.DAT", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "nothing.DAT: file not opened\n");
}

// The fields every object of info --json has for its kind, with their types.
void expectInfoSchema(const nlohmann::json& j, const std::string& file)
{
    using T = nlohmann::json::value_t;
    const auto has = [&](const nlohmann::json& o, const char* key, std::initializer_list<T> types) {
        ASSERT_TRUE(o.contains(key)) << file << ": no " << key;
        EXPECT_NE(std::find(types.begin(), types.end(), o[key].type()), types.end()) << file << ": " << key;
    };
    const T num = T::number_float, uint = T::number_unsigned, str = T::string, null = T::null;
    has(j, "path", {str});
    if (j.contains("error")) {
        EXPECT_EQ(j.size(), 2u) << file;
        has(j, "error", {str});
        return;
    }
    has(j, "kind", {str});
    has(j, "variant", {str, null});
    has(j, "size", {uint});
    EXPECT_EQ(j["size"], fs::file_size(file)) << file;
    const std::string kind = j["kind"];
    if (kind == "CAL")
        has(j, "calibration", {T::object});
    if (kind != "DAT" && kind != "RAW")
        return;
    EXPECT_EQ(j["variant"].is_string(), kind == "RAW") << file;
    has(j, "date", {T::object});
    has(j["date"], "stored", {str});
    has(j["date"], "iso", {str, null});
    has(j, "sample", {str});
    has(j, "comments", {T::array});
    EXPECT_EQ(j["comments"].size(), kind == "DAT" ? 2u : 1u) << file;
    has(j, "wavelength", {num});
    has(j, "anode", {str, null});
    has(j["wavelengths"], "alpha1", {num});
    has(j, "ranges", {T::array});
    has(j, "main_range", {uint});
    for (const auto& r : j["ranges"]) {
        for (const char* k : {"start", "step", "time_per_step", "end"})
            has(r, k, {num});
        has(r, "points", {uint});
    }
    if (kind == "DAT") {
        has(j, "channels", {uint});
        has(j["calibration"], "name", {str});
        has(j["calibration"], "found", {T::boolean});
        has(j["calibration"], "file", {str, null});
    }
}

// info --json: one line per file, exact for a RAW1 file, the predicted range of a DAT file's
// conversion equal to that of the RAW file it writes, and the date through the RAW writer.
TEST(Cli, InfoJsonOfEveryTestFile)
{
    TempDir dir;
    copySample(dir);
    fs::copy_file(fs::path(RAWDAT_TESTDATA) / "raw/BT86.raw", dir.file("BT86.raw"));
    CliRun r = convert("info --json BT86.raw", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"path\":\"BT86.raw\",\"kind\":\"RAW\",\"variant\":\"RAW1.01\",\"size\":10552,"
                     "\"date\":{\"stored\":\"03/04/10 20:59:14\",\"iso\":\"2010-03-04T20:59:14\"},\"sample\":\"BT86\","
                     "\"comments\":[\"\"],\"wavelength\":1.5406,\"anode\":\"Cu\",\"wavelengths\":{\"alpha1\":1.54056,"
                     "\"alpha2\":1.54439,\"ratio\":0.5},\"ranges\":[{\"start\":3.0,\"step\":0.0155922,\"points\":2374,"
                     "\"time_per_step\":0.5,\"end\":40.00029}],\"main_range\":0}\n");

    r = convert("info --json LAB6.DAT absent.DAT README.md", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "absent.DAT: file not opened\n"
                     "README.md: not a file rawdat knows (DAT, RAW, CAL, FDT or DTB)\n");
    std::vector<nlohmann::json> lines;
    for (std::size_t at = 0, nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(nlohmann::json::parse(r.out.substr(at, nl - at)));
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[1].dump(), R"({"error":"file not opened","path":"absent.DAT"})");
    const nlohmann::json& dat = lines[0];
    EXPECT_EQ(dat["date"]["iso"], "2026-12-08T10:15:00");
    EXPECT_EQ(dat["calibration"]["file"], asConverterSpellsIt(dir.file("CPS120.CAL")));
    EXPECT_EQ(dat["calibration"]["knots"].size(), 16u);
    EXPECT_EQ(dat["calibration"]["two_theta"]["last_channel"], 4096);

    ASSERT_EQ(convert("LAB6.DAT", dir.path()).status, 0);
    r = convert("info --json LAB6.RAW", dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto raw = nlohmann::json::parse(r.out);
    EXPECT_EQ(raw["variant"], "RAW2");
    EXPECT_EQ(raw["date"]["stored"], "08-Dec-2610:15:00");
    EXPECT_EQ(raw["date"]["iso"], dat["date"]["iso"]);
    EXPECT_EQ(raw["ranges"][0]["start"], dat["ranges"][0]["start"]);
    EXPECT_EQ(raw["ranges"][0]["step"], dat["ranges"][0]["step"]);
    EXPECT_EQ(raw["ranges"][0]["points"], dat["ranges"][0]["points"]);
    EXPECT_EQ(raw["ranges"][0]["end"], dat["ranges"][0]["end"]);

    // Several files in the text form: each one's lines under its name.
    r = convert("info LAB6.RAW BT86.raw", dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "LAB6.RAW:\nsize : 4121\nstep :  0.0290\n2th init :  6.1590\n\n"
                     "BT86.raw:\nsize : 2374\nstep :  0.0156\n2th init :  3.0000\n");

    std::string all;
    std::vector<std::string> files;
    for (const char* folder : {RAWDAT_TESTDATA, RAWDAT_SAMPLES})
        for (const auto& e : fs::recursive_directory_iterator(folder))
            if (e.is_regular_file()) {
                files.push_back(e.path().string());
                all += " '" + e.path().string() + "'";
            }
    r = convert("info --json" + all, dir.path());
    std::size_t at = 0;
    for (const std::string& f : files) {
        const std::size_t nl = r.out.find('\n', at);
        ASSERT_NE(nl, std::string::npos) << f;
        const auto j = nlohmann::json::parse(r.out.substr(at, nl - at));
        at = nl + 1;
        EXPECT_EQ(j["path"], f);
        expectInfoSchema(j, f);
    }
    EXPECT_EQ(at, r.out.size());
}

TEST(Cli, UsageErrors)
{
    TempDir dir;
    copySample(dir);
    struct Row { const char* args; const char* message; };
    const Row rows[] = {
        {"", "rawdat-convert: no FILE given\n"},
        {"--frobnicate x.DAT", "rawdat-convert: unknown option '--frobnicate'\nUsage: "},
        {"-x x.DAT", "rawdat-convert: unknown option '-x'\nUsage: "},
        {"--jobs -1 x.DAT", "rawdat-convert: -j/--jobs needs a number from 0 (one per core) to 256, not '-1'\n"},
        {"-j two x.DAT", "rawdat-convert: -j/--jobs needs a number from 0 (one per core) to 256, not 'two'\n"},
        {"x.DAT --jobs", "rawdat-convert: option -j/--jobs needs a value\nUsage: "},
        {"x.DAT --cal", "rawdat-convert: option --cal needs a value\n"},
        {"-", "rawdat-convert: '-' is not a file name"},
        {"--also xy,txt x.DAT", "rawdat-convert: --also: unknown format 'txt'"},
        {"-o absent LAB6.DAT", "rawdat-convert: -o/--output-dir absent: no such folder\n"},
        {"--cal LAB6.DAT LAB6.DAT", "rawdat-convert: --cal LAB6.DAT: not a calibration (CAL) file\n"},
        {"info", "rawdat-convert: info takes [--json] FILE...\n"},
        {"info --json", "rawdat-convert: info takes [--json] FILE...\n"},
        {"calibrate LAB6.DAT", "rawdat-convert: calibrate: give one of --standard and --lines\n"},
        {"calibrate --standard quartz LAB6.DAT", "rawdat-convert: calibrate: --standard quartz: lab6, si or ceo2\n"},
        {"calibrate --standard si --wavelength 1,54 LAB6.DAT",
         "rawdat-convert: calibrate: --wavelength 1,54: not a wavelength in angstroms\n"},
        {"calibrate --standard si -o absent LAB6.DAT", "rawdat-convert: calibrate: -o/--output-dir absent: no such folder\n"},
        {"-q calibrate --standard lab6 LAB6.DAT", "rawdat-convert: option -q/--quiet does not apply to calibrate\n"},
        {"LAB6.DAT calibrate", "rawdat-convert: 'calibrate' is a subcommand and comes first"},
    };
    for (const auto& row : rows) {
        CliRun r = convert(row.args, dir.path());
        EXPECT_EQ(r.status, 2) << row.args;
        EXPECT_EQ(r.err.substr(0, std::string(row.message).size()), row.message) << row.args;
    }
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"CPS120.CAL", "LAB6.DAT"}));
    CliRun help = convert("--help", dir.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: rawdat-convert [OPTION]... FILE..."), std::string::npos);
    CliRun version = convert("-V", dir.path());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "rawdat-convert " RAWDAT_VERSION "\n");
}

// -o, --cal and -n, with options after the files and "--" before a file named like an option.
TEST(Cli, OutputFolderCalibrationAndDryRun)
{
    TempDir dir;
    copySample(dir);
    fs::create_directory(dir.file("in"));
    fs::create_directory(dir.file("out"));
    fs::rename(dir.file("LAB6.DAT"), dir.file("in/LAB6.DAT"));
    fs::rename(dir.file("CPS120.CAL"), dir.file("renamed.cal"));
    writeText(dir.file("in/-b.RAW"), "RAW2 but nothing more");
    const auto image = [&] {
        return std::vector{folderImage(dir.path()), folderImage(dir.file("in")), folderImage(dir.file("out"))};
    };
    const auto before = image();

    // Without --cal the calibration is looked up beside the DAT file, where there is none.
    CliRun r = convert("-n in/LAB6.DAT -o out", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("in/LAB6.DAT: no calibration"), std::string::npos) << r.out;

    // A dry run has the real run's lines and status and writes nothing.
    r = convert("in/LAB6.DAT --dry-run --cal renamed.cal -o out -- in/-b.RAW", dir.path());
    EXPECT_EQ(r.status, 1);
    const std::string out = asConverterSpellsIt(dir.path().string() + "/out/");
    EXPECT_EQ(r.out, "in/LAB6.DAT: would write " + out + "LAB6.RAW, " + out + "LAB6.2CL\n"
                     "in/-b.RAW: Lecture au-delà de la fin de fichier (byte 21)\n");
    EXPECT_EQ(r.err, "2 files: 1 to convert, 1 failed; dry run, nothing written\n");
    EXPECT_EQ(image(), before);

    r = convert("--cal renamed.cal -o out in/LAB6.DAT", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(listFolder(dir.file("out")), (std::vector<std::string>{"LAB6.2CL", "LAB6.RAW"}));
    // The same bytes as beside the input with the calibration of the header, but the RAW file's
    // name field, which holds the output's path.
    fs::copy_file(dir.file("renamed.cal"), dir.file("in/CPS120.CAL"));
    r = convert("in/LAB6.DAT", dir.path());
    EXPECT_EQ(readBytes(dir.file("in/LAB6.2CL")), readBytes(dir.file("out/LAB6.2CL")));
    auto a = readBytes(dir.file("in/LAB6.RAW")), b = readBytes(dir.file("out/LAB6.RAW"));
    ASSERT_EQ(a.size(), b.size());
    std::fill(a.begin() + 8, a.begin() + 40, 0);
    std::fill(b.begin() + 8, b.begin() + 40, 0);
    EXPECT_EQ(a, b);
}

TEST(Cli, F1bExportStepsAndInfoOfTheOtherFormats)
{
    TempDir dir;
    F1bSpec layout;
    layout.n = 1024;
    layout.scans = 2;
    writeText(dir.file("run.F1B"), makeF1b(layout));
    writeText(dir.file("run.par"), makeParams(2));
    CliRun r = convert("f1b run.par run.F1B", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "run.F1B: wrote run.fdt (2 scans of 1024 channels) and run.cal\n");
    EXPECT_TRUE(fs::exists(dir.file("run.fdt")));
    EXPECT_EQ(fs::file_size(dir.file("run.cal")), 4172u);

    for (const char* f : {"run.fdt", "run.cal"}) {
        r = convert(std::string("info ") + f, dir.path());
        EXPECT_EQ(r.status, 0) << f << ": " << r.err;
        EXPECT_GT(std::count(r.out.begin(), r.out.end(), '\n'), 2) << f;
    }
    r = convert("info run.par", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "run.par: not a file rawdat knows (DAT, RAW, CAL, FDT or DTB)\n");

    r = convert("f1b --force missing.par run.F1B", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "run.F1B: Fichier introuvable (missing.par)\n");
    r = convert("f1b run.par", dir.path());
    EXPECT_EQ(r.status, 2);

    // The step-scan export of a RAW file: a title, the scan line, one count per line, CR ends.
    copySample(dir);
    ASSERT_EQ(convert("LAB6.DAT", dir.path()).status, 0);
    r = convert("export-steps LAB6.RAW steps.txt", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string steps = readText(dir.file("steps.txt"));
    EXPECT_EQ(steps.find('\n'), std::string::npos);
    const std::size_t lines = static_cast<std::size_t>(std::count(steps.begin(), steps.end(), '\r'));
    const auto rawBytes = readBytes(dir.file("LAB6.RAW"));
    EXPECT_EQ(lines, 2 + (rawBytes.size() - 256 - 58) / 4);
    EXPECT_EQ(steps.substr(0, 30), std::string("RAW2") + asConverterSpellsIt(dir.file("LAB6.RAW")).substr(0, 26));
    r = convert("export-steps nothing.RAW out.txt", dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(dir.file("out.txt")));
}

// The bundled LaB6 pattern calibrates the detector as its own calibration does, to 0.01 degree
// over the channels between the first and the last matched reflection.
TEST(Cli, CalibrateFromTheSampleStandard)
{
    TempDir dir;
    copySample(dir);
    CliRun r = convert("calibrate --standard lab6 LAB6.DAT", dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "LAB6.DAT: wrote LAB6.CAL (12 knots)\n");
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "LAB6.DAT: LaB6 at 1.54056 A (Cu K-alpha-1), single profiles\n");
    EXPECT_NE(r.out.find("\npeaks: 12 found, 12 matched\n"), std::string::npos) << r.out;
    TLitdat lit;
    TCalibration made, truth;
    ASSERT_TRUE(lit.Lect_CAL(dir.file("LAB6.CAL"), made));
    ASSERT_TRUE(lit.Lect_CAL(dir.file("CPS120.CAL"), truth));
    EXPECT_EQ(made.CalWavelength, 1.54056);
    ASSERT_EQ(made.KnotCount, 12);
    double worst = 0.0;
    for (int ch = static_cast<int>(std::ceil(made.KnotPos[1] * 1000)); ch <= made.KnotPos[12] * 1000; ++ch)
        worst = std::max(worst, std::abs(lit.Degree(made, ch) - lit.Degree(truth, ch)));
    EXPECT_LE(worst, 0.01);

    const auto before = readBytes(dir.file("LAB6.CAL"));
    r = convert("calibrate --standard lab6 LAB6.DAT", dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "LAB6.DAT: kept existing LAB6.CAL (use --force to replace)\n");
    EXPECT_EQ(readBytes(dir.file("LAB6.CAL")), before);

    fs::create_directory(dir.path() / "out");
    r = convert("calibrate --json --standard LaB6 -o out LAB6.DAT", dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, std::string("LAB6.DAT: wrote ") + (convertsOnWindows() ? "out\\" : "out/") + "LAB6.CAL (12 knots)\n");
    EXPECT_EQ(readBytes(dir.file("out/LAB6.CAL")), before);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
              "{\"anode\":\"Cu\",\"doublets\":false,\"file\":\"LAB6.DAT\",\"standard\":\"LaB6\",\"type\":\"standard\","
              "\"wavelength\":1.54056}\n");
    std::size_t reflections = 0;
    for (std::size_t at = 0; (at = r.out.find("\"type\":\"reflection\"", at)) != std::string::npos; ++at)
        ++reflections;
    EXPECT_EQ(reflections, 12u);
    EXPECT_NE(r.out.find("{\"file\":\"LAB6.DAT\",\"found\":12,\"matched\":12,\"type\":\"peaks\"}\n"), std::string::npos);
}

// Refusals: status 1, one line naming the file, no CAL written.
TEST(Cli, CalibrateRefusals)
{
    TempDir dir;
    copySample(dir);
    // LaB6's spacings, every other one 0.06% off: matched, but no smooth calibration meets them.
    const double n[] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13};
    std::string off;
    for (int i = 0; i < 12; ++i)
        off += std::to_string(4.156826 / std::sqrt(n[i]) * (i % 2 ? 1.0006 : 0.9994)) + "\n";
    writeText(dir.file("off.txt"), off);
    writeText(dir.file("three.txt"), "# three lines of LaB6\n4.156826\n2.939306 # 110\n\n2.399945\n");
    writeText(dir.file("bad.txt"), "4.156826\n2,939\n");
    fs::copy_file(dir.file("LAB6.DAT"), dir.file("X.CAL"));
    struct Row {
        const char* args;
        const char* err;
    };
    const Row rows[] = {
        {"--standard si LAB6.DAT", "LAB6.DAT: only 3 reflections matched (at least 5 needed); no CAL written\n"},
        {"--lines three.txt LAB6.DAT", "LAB6.DAT: only 3 reflections matched (at least 5 needed); no CAL written\n"},
        {"--lines off.txt LAB6.DAT", "LAB6.DAT: the match leaves residuals of 0.127 degrees (above 0.05): wrong "
                                     "standard or wrong wavelength? no CAL written\n"},
        // The wrong wavelength: lines in the same order, smoothly bent, small residuals.
        {"--standard lab6 --wavelength 0.7093 LAB6.DAT",
         "LAB6.DAT: only 11 of the standard's 39 reflections between 29.660 and 76.797 degrees have a peak: "
         "wrong standard or wrong wavelength? no CAL written\n"},
        {"--standard lab6 --wavelength 1.78897 LAB6.DAT", "LAB6.DAT: 4 of the 8 highest peaks match no reflection "
                                                          "of the standard: wrong standard or wrong wavelength? no CAL written\n"},
        {"--lines bad.txt LAB6.DAT", "bad.txt: line 2 is not a d-spacing: 2,939\n"},
        {"--lines absent.txt LAB6.DAT", "absent.txt: Fichier introuvable\n"},
        {"--standard lab6 X.CAL", "X.CAL: its output X.CAL would replace an input; nothing written\n"},
        {"--standard lab6 CPS120.CAL", "CPS120.CAL: its output CPS120.CAL would replace an input; nothing written\n"},
        {"--standard lab6 LAB6.DAT LAB6.DAT", "LAB6.DAT: its output LAB6.CAL is written for an earlier file; nothing written\n"},
    };
    for (const auto& row : rows) {
        CliRun r = convert(std::string("calibrate ") + row.args, dir.path());
        const bool second = std::string(row.args).find("LAB6.DAT LAB6.DAT") != std::string::npos;
        EXPECT_EQ(r.status, 1) << row.args;
        if (second) {
            EXPECT_EQ(r.err, "LAB6.DAT: wrote LAB6.CAL (12 knots)\n" + std::string(row.err)) << row.args;
            fs::remove(dir.file("LAB6.CAL"));
        } else {
            EXPECT_EQ(r.err, row.err) << row.args;
        }
        EXPECT_FALSE(fs::exists(dir.file("LAB6.CAL"))) << row.args;
    }
    EXPECT_EQ(readBytes(dir.file("X.CAL")), readBytes(dir.file("LAB6.DAT")));
}
