// No file is ever lost: rawdat-convert against the folders a lab really has. Each row runs in a
// fresh folder holding LAB6.DAT, CPS120.CAL and BT86.raw, with --jobs 1 and again with --jobs 2,
// and checks the exit status, the lines on standard error, that every file not meant to change is
// byte for byte what it was, and that no temporary is left.
#include "fmt_raw/raw.h"
#include "fmt_raw/raw_images.h"
#include "reliability.h"
#include "ulit_dat/fsio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <random>
#include <optional>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

extern char** environ;

namespace {

struct Outcome {
    int status; // exit status, or 1000 + the signal that ended it
    std::string err;
};

// Starts rawdat-convert in `folder` through sh (`args` already quoted, `before` run first in the
// same shell, e.g. a ulimit or a timeout); its standard error goes to `errFile`. `streams`, when
// given, are its redirections instead (a pipe too; "$E" is `errFile`), and its exit status is
// then kept in errFile.status.
pid_t start(const fs::path& folder, const std::string& args, const std::string& errFile,
            const std::string& before = "", const std::string& launcher = "", const std::string& streams = "")
{
    const std::string convert = launcher + " " + converterCommand() + " " + args;
    const std::string cmd = "cd '" + folder.string() + "' && E='" + errFile + "' && " + before +
                            (streams.empty() ? " exec " + convert + " 2>\"$E\" >/dev/null"
                                             : " (" + convert + "; echo $? >\"$E.status\") " + streams);
    const char* argv[] = {"sh", "-c", cmd.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return -1;
    return pid;
}

Outcome finish(pid_t pid, const std::string& errFile)
{
    int st = 0;
    ::waitpid(pid, &st, 0);
    Outcome r{WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st), readText(errFile)};
    if (fs::exists(errFile + ".status"))
        r.status = std::stoi(readText(errFile + ".status"));
    fs::remove(errFile);
    fs::remove(errFile + ".status");
    return r;
}

Outcome convertIn(const fs::path& folder, const std::string& args, const std::string& before = "",
                  const std::string& launcher = "", const std::string& streams = "")
{
    const std::string errFile = (folder.parent_path() / (folder.filename().string() + ".err")).string();
    return finish(start(folder, args, errFile, before, "timeout 30 " + launcher, streams), errFile);
}

void sampleFolder(const TempDir& dir)
{
    for (const char* f : {"LAB6.DAT", "CPS120.CAL"})
        fs::copy_file(fs::path(RAWDAT_SAMPLES) / f, dir.path() / f);
    fs::copy_file(fs::path(RAWDAT_TESTDATA) / "raw" / "BT86.raw", dir.path() / "BT86.raw");
}

// A spline calibration whose cubic terms overflow every angle.
void breakCalibration(const std::string& path)
{
    auto b = readBytes(path);
    const int knots = b[106] | (b[107] << 8);
    const double huge = 1e300;
    for (int j = 1; j <= knots; ++j) {
        const int r = 100 + 4 * (j - 1) + 4; // SplineD of knot j
        std::memcpy(b.data() + 108 + 8 * (r - 1) + 2 * (r / 16), &huge, 8);
    }
    writeBytes(path, b);
}

// `n` copies of LAB6.DAT, S000.DAT ..., beside its calibration; their names in order.
std::string manyFiles(const fs::path& dir, int n)
{
    if (!fs::exists(dir / "CPS120.CAL"))
        fs::copy_file(fs::path(RAWDAT_SAMPLES) / "CPS120.CAL", dir / "CPS120.CAL");
    std::string names;
    for (int i = 0; i < n; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "S%03d.DAT", i);
        fs::copy_file(fs::path(RAWDAT_SAMPLES) / "LAB6.DAT", dir / name);
        names += std::string(" ") + name;
    }
    return names;
}

// " S001.DAT ... S(n-1).DAT", from `from`.
std::string names(int from, int n)
{
    std::string out;
    char name[16];
    for (int i = from; i < n; ++i) {
        std::snprintf(name, sizeof name, " S%03d.DAT", i);
        out += name;
    }
    return out;
}

// The RAW and 2CL files of S000 ... S(n-1), but those of `except`.
std::set<std::string> outputsOf(int n, int except)
{
    std::set<std::string> out;
    char name[16];
    for (int i = 0; i < n; ++i)
        for (const char* ext : {"RAW", "2CL"})
            if (i != except) {
                std::snprintf(name, sizeof name, "S%03d.%s", i, ext);
                out.insert(name);
            }
    return out;
}

struct Row {
    const char* what;
    std::function<void(const TempDir&)> setup;
    std::string args;
    int status;
    std::string err;                    // exact, summary included
    std::set<std::string> changes = {}; // files written (all others stay byte for byte)
    std::string before = "";            // shell commands before the converter
    std::function<void(const TempDir&)> check = nullptr;
    std::string streams = "";           // its redirections instead of 2>"$E" >/dev/null (see start)
    std::string launcher = "";          // a command it runs under
};

// The rows whose folders Windows has no such thing for (FIFOs, symbolic links, permission bits
// and owners, file-size limits, closed descriptors, control characters in names): left out with
// the Windows converter.
const std::set<std::string> kPosixOnly = {
    "an output that is a symbolic link",
    "a file-size limit is a full disk",
    "--force replaces both and keeps the permission bits, and the owner when run by root",
    "a FIFO does not stop the batch",
    "a FIFO in the calibration's place",
    "a link to a device",
    "control characters are escaped",
    "closed standard error",
    "--cal given a FIFO",
    "a looping symbolic link, a path beyond PATH_MAX",
    "export-steps names its file once",
    "f1b names its file once",
    "info names its file once",
    "a dry run in a folder it cannot write",
    "a folder it cannot write",
};

// The outputs of one conversion by extension, and the check of a folder of them (below).
using Outputs = std::map<std::string, std::vector<std::uint8_t>>;
int wholeOutputs(const fs::path& dir, int n, const std::vector<Outputs>& refs, bool all, bool killed = false);
const Outputs& lab6Outputs();

const std::string kOk1 = "1 file: 1 converted, 0 failed\n";
const std::string kFailed1 = "1 file: 0 converted, 1 failed\n";

const std::string kUsageLine = "Usage: rawdat-convert [OPTION]... FILE...  (see --help)\n";

// The exports NAME.xy, NAME.xye and NAME.csv of NAME.raw hold its intensities point for point, each
// text reading back as the Single the file stores; the step line holds the stored step whole, and
// NAME.instprm the anode's lines of a copper tube.
void checkStoredIntensities(const TempDir& d, const std::string& name)
{
    RawModule raw;
    TScanHeader h;
    TScanParams p;
    auto data = std::make_unique<TData>();
    Lect_RAW(raw, d.file(name + ".raw"), h, p, *data);
    const std::vector<float>& stored = raw.Ranges.at(0).Intensities;
    ASSERT_EQ(stored.size(), 7134u);
    EXPECT_EQ(stored[0], 283.7692f);
    for (const char* ext : {"xy", "xye", "csv"}) {
        const std::string text = readText(d.file(name + "." + ext));
        const char sep = std::string_view(ext) == "csv" ? ',' : ' ';
        std::size_t at = 0, point = 0;
        while (at < text.size()) {
            const std::size_t end = text.find('\n', at);
            const std::string line = text.substr(at, end - at);
            at = end + 1;
            if (line[0] == '#' || line[0] == 't')
                continue;
            const std::size_t a = line.find(sep) + 1, b = line.find(sep, a);
            const std::string y = line.substr(a, b == std::string::npos ? std::string::npos : b - a);
            float v = 0;
            const auto r = std::from_chars(y.data(), y.data() + y.size(), v);
            ASSERT_TRUE(r.ec == std::errc() && r.ptr == y.data() + y.size()) << ext << ": " << line;
            ASSERT_LT(point, stored.size()) << ext;
            ASSERT_EQ(v, stored[point]) << ext << ", point " << point + 1 << ": " << line;
            EXPECT_EQ(y.find_first_of("eE"), std::string::npos) << ext << ": " << line;
            ++point;
        }
        EXPECT_EQ(point, stored.size()) << ext;
    }
    EXPECT_NE(readText(d.file(name + ".xy")).find("\n# step (deg): 0.0105203\n"), std::string::npos);
    EXPECT_NE(readText(d.file(name + ".xye")).find("\n10.000000 283.7692 16.8455\n"), std::string::npos);
    EXPECT_EQ(readText(d.file(name + ".instprm")),
              "#GSAS-II instrument parameter file; do not add/delete items!\n"
              "# written by rawdat " RAWDAT_VERSION " for " + name + ".raw\n"
              "Type:PXC\nBank:1.0\nLam1:1.54056\nLam2:1.54439\nZero:0.0\n"
              "# The profile terms below are GSAS-II's defaults for a laboratory instrument, not\n"
              "# measured for this one: refine them on a standard.\n"
              "Polariz.:0.7\nAzimuth:0.0\nU:2.0\nV:-2.0\nW:5.0\nX:0.0\nY:0.0\nZ:0.0\nSH/L:0.002\n"
              "I(L2)/I(L1):0.5\n");
}

// The outputs of manyFiles(dir, n).
std::set<std::string> manyOutputs(int n)
{
    std::set<std::string> names;
    for (int i = 0; i < n; ++i) {
        char base[16];
        std::snprintf(base, sizeof base, "S%03d.", i);
        names.insert({std::string(base) + "RAW", std::string(base) + "2CL"});
    }
    return names;
}

// Runs the converter as a user who may not write in the sample folder (made read-only), or
// nullopt when it runs as root and setpriv is missing.
std::optional<std::string> withoutWriteAccess()
{
    if (::geteuid() != 0)
        return "";
    if (::access("/usr/bin/setpriv", X_OK) != 0)
        return std::nullopt;
    return "setpriv --reuid=nobody --regid=nogroup --clear-groups";
}

std::vector<Row> rows()
{
    auto copy = [](const char* from, const char* to) {
        return [=](const TempDir& d) { fs::copy_file(d.file(from), d.file(to)); };
    };
    auto format1 = [](const char* to) { // three ranges
        return [=](const TempDir& d) {
            fs::copy_file(fs::path(RAWDAT_TESTDATA) / "raw" / "format1.raw", d.file(to));
        };
    };
    auto text = [](const char* name, const char* content) {
        return [=](const TempDir& d) { writeText(d.file(name), content); };
    };
    std::string longPath;
    while (longPath.size() < PATH_MAX)
        longPath += "a/";
    longPath += "x.RAW";
    auto f1bFiles = [](const TempDir& d) { writeF1bFiles(d, 1024, 2); }; // run.F1B and run.par
    auto f1bWith = [=](const char* name, const char* content) {
        return [=](const TempDir& d) {
            f1bFiles(d);
            writeText(d.file(name), content);
        };
    };
    std::vector<Row> table = {
        {"a name without extension gets one", copy("LAB6.DAT", "ab"), "ab", 0, kOk1, {"ab.RAW", "ab.2CL"}},
        {"a dot in a folder name is no extension",
         [](const TempDir& d) {
             fs::create_directory(d.file("run.2024"));
             fs::copy_file(d.file("LAB6.DAT"), d.file("run.2024/scan"));
             fs::copy_file(d.file("CPS120.CAL"), d.file("run.2024/CPS120.CAL"));
         },
         "run.2024/scan",
         0,
         kOk1,
         {"run.2024"},
         "",
         [](const TempDir& d) {
             EXPECT_EQ(listFolder(d.file("run.2024")),
                       (std::vector<std::string>{"CPS120.CAL", "scan", "scan.2CL", "scan.RAW"}));
         }},
        {"RAW content named as its own output", copy("BT86.raw", "scan.2CL"), "scan.2CL", 1,
         "scan.2CL: its output scan.2CL would replace an input; nothing written\n" + kFailed1},
        {"DAT content named as its own output, forced", copy("LAB6.DAT", "det.RAW"), "--force det.RAW", 1,
         "det.RAW: its output det.RAW would replace an input; nothing written\n" + kFailed1},
        {"export-steps onto its input", nullptr, "export-steps BT86.raw ./BT86.raw", 1,
         "BT86.raw: its output ./BT86.raw would replace an input; nothing written\n"},
        {"f1b over an existing calibration keeps it", f1bWith("run.cal", "my calibration"),
         "f1b run.par run.F1B", 0, "run.F1B: kept existing run.cal (use --force to replace)\n"},
        {"f1b over an existing FDT keeps it and writes no calibration", f1bWith("run.fdt", "old"),
         "f1b run.par run.F1B", 0, "run.F1B: kept existing run.fdt (use --force to replace)\n"},
        {"f1b --force replaces both",
         [=](const TempDir& d) {
             f1bWith("run.fdt", "old")(d);
             writeText(d.file("run.cal"), "old");
         },
         "f1b --force run.par run.F1B",
         0,
         "run.F1B: wrote run.fdt (2 scans of 1024 channels) and run.cal\n",
         {"run.fdt", "run.cal"},
         "",
         [](const TempDir& d) {
             EXPECT_EQ(fs::file_size(d.file("run.fdt")), 16448u + 2 * 4160u);
             EXPECT_EQ(fs::file_size(d.file("run.cal")), 4172u);
         }},
        {"f1b onto its parameter file",
         [=](const TempDir& d) {
             f1bFiles(d);
             fs::copy_file(d.file("run.par"), d.file("keep.fdt"));
             fs::copy_file(d.file("run.F1B"), d.file("keep.F1B"));
         },
         "f1b --force keep.fdt keep.F1B", 1, "keep.F1B: its output keep.fdt would replace an input; nothing written\n"},
        {"f1b whose calibration would be its F1B file",
         [=](const TempDir& d) {
             f1bFiles(d);
             fs::copy_file(d.file("run.F1B"), d.file("s.cal"));
         },
         "f1b --force run.par s.cal", 1, "s.cal: its output s.cal would replace an input; nothing written\n"},
        {"f1b of a name without extension in a folder",
         [=](const TempDir& d) {
             f1bFiles(d);
             fs::create_directory(d.file("sub"));
             fs::copy_file(d.file("run.F1B"), d.file("sub/ab"));
         },
         "f1b run.par sub/ab",
         0,
         "sub/ab: wrote sub/ab.fdt (2 scans of 1024 channels) and sub/ab.cal\n",
         {},
         "",
         [](const TempDir& d) {
             EXPECT_EQ(listFolder(d.file("sub")), (std::vector<std::string>{"ab", "ab.cal", "ab.fdt"}));
             const auto fdt = readBytes(d.file("sub/ab.fdt")); // CalName from offset 313
             EXPECT_EQ(std::string(fdt.begin() + 313, fdt.begin() + 324), "sub/ab.CAL ");
         }},
        {"export-steps over an existing file keeps it", text("out.stp", "old"), "export-steps BT86.raw out.stp", 0,
         "BT86.raw: kept existing out.stp (use --force to replace)\n"},
        {"export-steps -f replaces it", text("out.stp", "old"), "export-steps -f BT86.raw out.stp", 0, "",
         {"out.stp"}, "",
         [](const TempDir& d) { EXPECT_EQ(readText(d.file("out.stp")).substr(0, 4), "RAW1"); }},
        {"export-steps onto a calibration of the folder, forced", nullptr,
         "export-steps --force BT86.raw CPS120.CAL", 1,
         "BT86.raw: its output CPS120.CAL would replace a calibration; nothing written\n"},
        {"export-steps names its file once", [](const TempDir& d) { ::mkfifo(d.file("fifo.raw").c_str(), 0644); },
         "export-steps fifo.raw x.stp", 1, "fifo.raw: not a regular file\n"},
        {"f1b names its file once", [](const TempDir& d) { ::mkfifo(d.file("fifo.F1B").c_str(), 0644); },
         "f1b run.par fifo.F1B", 1, "fifo.F1B: not a regular file\n"},
        {"info names its file once", [](const TempDir& d) { ::mkfifo(d.file("fifo.raw").c_str(), 0644); },
         "info fifo.raw", 1, "fifo.raw: not a regular file\n"},
        {"an output that is a folder",
         [](const TempDir& d) {
             fs::create_directory(d.file("LAB6.RAW"));
             writeText(d.file("LAB6.2CL"), "old");
         },
         "--force LAB6.DAT", 1, "LAB6.DAT: LAB6.RAW is a folder; nothing written\n" + kFailed1},
        {"an output that is a symbolic link",
         [](const TempDir& d) {
             writeText(d.file("notes.txt"), "notes");
             fs::create_symlink("notes.txt", d.file("LAB6.2CL"));
         },
         "--force LAB6.DAT", 1, "LAB6.DAT: LAB6.2CL is a symbolic link; nothing written\n" + kFailed1},
        {"a read-only RAW file",
         [](const TempDir& d) {
             writeText(d.file("LAB6.RAW"), "old raw");
             writeText(d.file("LAB6.2CL"), "old 2cl");
             fs::permissions(d.file("LAB6.RAW"), fs::perms::owner_read);
         },
         "--force LAB6.DAT", 1, "LAB6.DAT: Accès au fichier refusé (LAB6.RAW)\n" + kFailed1},
        {"a file-size limit is a full disk",
         text("LAB6.2CL", "old 2cl"),
         "--force LAB6.DAT",
         1,
         "LAB6.DAT: Disque plein (LAB6.2CL)\n" + kFailed1,
         {},
         "ulimit -f 40;"},
        {"without --force an existing 2CL keeps the whole file", text("LAB6.2CL", "old"), "LAB6.DAT", 0,
         "LAB6.DAT: kept existing LAB6.2CL (use --force to replace)\n"
         "1 file: 0 converted, 1 skipped (output exists), 0 failed\n"},
        {"without --force an existing TXT keeps the 2CL too", text("BT86.TXT", "old"), "BT86.raw", 0,
         "BT86.raw: kept existing BT86.TXT (use --force to replace)\n"
         "1 file: 0 converted, 1 skipped (output exists), 0 failed\n"},
        {"without --force an existing range file keeps the whole file",
         [=](const TempDir& d) {
             format1("F.raw")(d);
             writeText(d.file("F_3.2CL"), "old");
         },
         "F.raw", 0,
         "F.raw: kept existing F_3.2CL (use --force to replace)\n"
         "1 file: 0 converted, 1 skipped (output exists), 0 failed\n"},
        {"a range file that another input writes too",
         [=](const TempDir& d) {
             format1("F.raw")(d);
             copy("BT86.raw", "F_2.raw")(d);
         },
         "--force F.raw F_2.raw", 1,
         "F.raw: F_2.TXT is also written by F_2.raw; nothing written\n"
         "F_2.raw: F_2.TXT is also written by F.raw; nothing written\n2 files: 0 converted, 2 failed\n"},
        {"--force replaces both and keeps the permission bits, and the owner when run by root",
         [](const TempDir& d) {
             writeText(d.file("LAB6.RAW"), "old");
             fs::permissions(d.file("LAB6.RAW"), fs::perms::owner_read | fs::perms::owner_write);
             if (::geteuid() == 0) {
                 EXPECT_EQ(::chown(d.file("LAB6.RAW").c_str(), 65534, 65534), 0);
             }
         },
         "--force LAB6.DAT",
         0,
         kOk1,
         {"LAB6.RAW", "LAB6.2CL"},
         "",
         [](const TempDir& d) {
             EXPECT_EQ(fs::status(d.file("LAB6.RAW")).permissions(),
                       fs::perms::owner_read | fs::perms::owner_write);
             struct stat st {};
             ASSERT_EQ(::stat(d.file("LAB6.RAW").c_str(), &st), 0);
             if (::geteuid() == 0) {
                 EXPECT_EQ(st.st_uid, 65534u);
                 EXPECT_EQ(st.st_gid, 65534u);
             }
         }},
        {"two inputs that write one file", copy("LAB6.DAT", "LAB6.dat"), "--force LAB6.DAT LAB6.dat", 1,
         "LAB6.DAT: LAB6.RAW is also written by LAB6.dat; nothing written\n"
         "LAB6.dat: LAB6.RAW is also written by LAB6.DAT; nothing written\n2 files: 0 converted, 2 failed\n"},
        {"two spellings of one folder",
         [](const TempDir& d) {
             fs::create_directory(d.file("A"));
             fs::copy_file(d.file("BT86.raw"), d.file("A/x.raw"));
             fs::copy_file(d.file("BT86.raw"), d.file("A/x.rw"));
             fs::create_directory_symlink("A", d.file("L"));
         },
         "--force A/x.raw L/x.rw", 1,
         "A/x.raw: x.TXT is also written by L/x.rw; nothing written\n"
         "L/x.rw: x.TXT is also written by A/x.raw; nothing written\n2 files: 0 converted, 2 failed\n"},
        {"an output that appears after the plan is kept, and nothing else of its file is written",
         [](const TempDir& d) { manyFiles(d.path(), 40); },
         names(0, 40), 0,
         "S030.DAT: kept existing S030.RAW (use --force to replace)\n"
         "40 files: 39 converted, 1 skipped (output exists), 0 failed\n",
         [] {
             auto written = outputsOf(40, 30);
             written.insert("S030.RAW"); // by the other program
             return written;
         }(),
         // Another program writes S030.RAW once the batch is under way.
         "{ (for i in $(seq 1000); do [ -e S002.RAW ] && break; sleep 0.01; done; echo late >S030.RAW) & } &&",
         [](const TempDir& d) { EXPECT_EQ(readText(d.file("S030.RAW")), "late\n"); }},
        {"a DAT and a RAW file of one name", copy("BT86.raw", "LAB6.RAW"), "--force LAB6.DAT LAB6.RAW", 1,
         "LAB6.DAT: its output LAB6.RAW would replace an input; nothing written\n"
         "LAB6.RAW: it is an output of LAB6.DAT in this batch; nothing written\n2 files: 0 converted, 2 "
         "failed\n"},
        {"an input that another input writes", nullptr, "LAB6.DAT LAB6.RAW", 1,
         "LAB6.DAT: its output LAB6.RAW would replace an input; nothing written\n"
         "LAB6.RAW: it is an output of LAB6.DAT in this batch; nothing written\n2 files: 0 converted, 2 "
         "failed\n"},
        {"a FIFO does not stop the batch",
         [](const TempDir& d) { ::mkfifo(d.file("f.DAT").c_str(), 0644); },
         "f.DAT LAB6.DAT",
         1,
         "f.DAT: not a regular file\n2 files: 1 converted, 1 failed\n",
         {"LAB6.RAW", "LAB6.2CL"}},
        {"a FIFO in the calibration's place",
         [](const TempDir& d) {
             fs::remove(d.file("CPS120.CAL"));
             ::mkfifo(d.file("CPS120.CAL").c_str(), 0644);
         },
         "LAB6.DAT", 1, "LAB6.DAT: CPS120.CAL: not a regular file\n" + kFailed1},
        {"a link to a device", [](const TempDir& d) { fs::create_symlink("/dev/zero", d.file("z.RAW")); },
         "z.RAW", 1, "z.RAW: not a regular file\n" + kFailed1},
        {"a folder", [](const TempDir& d) { fs::create_directory(d.file("dir.DAT")); }, "dir.DAT", 1,
         "dir.DAT: not a regular file\n" + kFailed1},
        {"a file far too big",
         [](const TempDir& d) {
             writeText(d.file("big.RAW"), "RAW2");
             fs::resize_file(d.file("big.RAW"), (64u << 20) + 1);
         },
         "big.RAW", 1, "big.RAW: is 67108865 bytes; a RAW file is at most 67108864 bytes\n" + kFailed1},
        {"a DAT file too big",
         [](const TempDir& d) {
             fs::copy_file(d.file("LAB6.DAT"), d.file("B.DAT"));
             fs::resize_file(d.file("B.DAT"), 1u << 20);
         },
         "B.DAT", 1, "B.DAT: is 1048576 bytes; a DAT file is at most 134036 bytes\n" + kFailed1},
        {"a temporary left by a killed run",
         text(".LAB6.2CL.tmp1", "stale"),
         "LAB6.DAT",
         0,
         kOk1,
         {"LAB6.RAW", "LAB6.2CL"}},
        {"a calibration that overflows", [](const TempDir& d) { breakCalibration(d.file("CPS120.CAL")); },
         "LAB6.DAT", 1,
         "LAB6.DAT: its calibration CPS120.CAL cannot be used (Débordement de virgule flottante); nothing "
         "converted\n" +
             kFailed1},
        {"the file is named once, as given",
         [](const TempDir& d) {
             writeText(d.file("cut.DAT"), "\x4b\x02");
             fs::create_symlink("cut.DAT", d.file("link.DAT"));
         },
         "./link.DAT", 1, "./link.DAT: Lecture au-delà de la fin de fichier (byte 2)\n" + kFailed1},
        {"control characters are escaped", text("bad\nname\x1b.DAT", "\x4b\x02"),
         "\"$(printf 'bad\\nname\\033.DAT')\"", 1,
         "bad\\nname\\x1b.DAT: Lecture au-delà de la fin de fichier (byte 2)\n" + kFailed1},
        {"closed standard error",
         [](const TempDir& d) {
             fs::remove(d.file("CPS120.CAL"));
             manyFiles(d.path(), 8);
             for (int i = 0; i < 8; ++i) // each fails with a line on standard error
                 writeText(d.file("c" + std::to_string(i) + ".DAT"), "\x4b\x02");
         },
         "c0.DAT S000.DAT c1.DAT S001.DAT c2.DAT S002.DAT c3.DAT S003.DAT c4.DAT S004.DAT c5.DAT S005.DAT "
         "c6.DAT S006.DAT c7.DAT S007.DAT",
         1, "", manyOutputs(8), "", [](const TempDir& d) { EXPECT_EQ(wholeOutputs(d.path(), 8, {lab6Outputs()}, true), 8); },
         "2>&- >\"$E\""},
        {"a reader that goes away",
         [](const TempDir& d) {
             fs::remove(d.file("CPS120.CAL"));
             manyFiles(d.path(), 30);
             writeText(d.file("cut.DAT"), "\x4b\x02");
         },
         "cut.DAT S*.DAT", 1, "cut.DAT: Lecture au-delà de la fin de fichier (byte 2)\n", manyOutputs(30), "",
         [](const TempDir& d) { wholeOutputs(d.path(), 30, {lab6Outputs()}, false); }, "2>&1 | head -1 >\"$E\""},
        {"a RAW file of more ranges than rawdat converts",
         [](const TempDir& d) {
             Raw2Range one;
             one.values = {5.0f};
             writeBytes(d.file("M.raw"), raw2Image(std::vector<Raw2Range>(257, one)));
         },
         "M.raw", 1, "M.raw: 257 ranges; rawdat converts at most 256\n" + kFailed1},
        {"--cal given a FIFO", [](const TempDir& d) { ::mkfifo(d.file("cal.fifo").c_str(), 0644); },
         "--cal cal.fifo LAB6.DAT", 2, "rawdat-convert: --cal cal.fifo: not a regular file\n"},
        {"info shows a file's control characters escaped",
         [](const TempDir& d) {
             auto b = readBytes(d.file("LAB6.DAT"));
             const std::string comment = "\x1b]0;x\x07\tA\x9d\x80\x7f";
             std::copy(comment.begin(), comment.end(), b.begin() + 95); // the first comment
             writeBytes(d.file("E.DAT"), b);
         },
         "info E.DAT", 0,
         "calibration : calibOK\ntaille : 4096\nacquisition : 600.000\nlambda : 1.54056\nCalib : CPS120   \n"
         "date : 08/12/26 10:15:00   \npower 40 kV     30 mA    \n"
         "comment \\x1b]0;x\\x07\tA\\x9d\u20ac\\x7fosition standard, Cu Ka1" + std::string(45, ' ') + "\n"
         "comment curved position-sensitive detector, 4096 channels, 120 degrees" + std::string(18, ' ') + "\n"
         "comment rawdat sample pattern" + std::string(59, ' ') + "\n",
         {}, "", nullptr, ">\"$E\" 2>&1"},
        {"a folder where an output goes", [](const TempDir& d) { fs::create_directory(d.file("BT86.TXT")); },
         "BT86.raw", 1, "BT86.raw: BT86.TXT is a folder; nothing written\n" + kFailed1},
        {"a looping symbolic link, a path beyond PATH_MAX",
         [](const TempDir& d) { fs::create_symlink("loop.DAT", d.file("loop.DAT")); },
         "loop.DAT " + longPath, 1,
         "loop.DAT: too many levels of symbolic links\n" + longPath + ": path too long\n2 files: 0 converted, 2 failed\n"},
        {"-q before info converts nothing", nullptr, "-q info LAB6.DAT", 0, ""},
        {"an option before a subcommand that it does not take", nullptr, "-o . info LAB6.DAT", 2,
         "rawdat-convert: option -o/--output-dir does not apply to info\n" + kUsageLine},
        {"a subcommand's name after a file converts neither", copy("LAB6.DAT", "info"), "LAB6.DAT info", 2,
         "rawdat-convert: 'info' is a subcommand and comes first; a file of that name is given as ./info\n" +
             kUsageLine},
        {"a file named as a subcommand after --", copy("LAB6.DAT", "info"), "-- info", 0, kOk1,
         {"info.RAW", "info.2CL"}},
        {"--help=x names --help", nullptr, "--help=x LAB6.DAT", 2,
         "rawdat-convert: option -h/--help takes no value\n" + kUsageLine},
        {"--version=1 names --version", nullptr, "--version=1", 2,
         "rawdat-convert: option -V/--version takes no value\n" + kUsageLine},
        {"a missing file without a known extension", nullptr, "nofile", 1, "nofile: not found\n" + kFailed1},
        {"-q keeps existing outputs silently", text("LAB6.2CL", "old"), "-q LAB6.DAT", 0, ""},
        {"-q says no ranges notice but still the failures", format1("r.raw"), "-q r.raw nofile", 1,
         "nofile: not found\n",
         {"r.TXT", "r.2CL", "r_2.TXT", "r_2.2CL", "r_3.TXT", "r_3.2CL"}},
        {"a repeated --also adds its formats, in any case", nullptr, "--also xy --also CSV,Instprm LAB6.DAT", 0, kOk1,
         {"LAB6.RAW", "LAB6.2CL", "LAB6.xy", "LAB6.csv", "LAB6.instprm"}},
        {"the exports of fractional counts read back as the stored Singles",
         [](const TempDir& d) {
             fs::copy_file(fs::path(RAWDAT_TESTDATA) / "raw4" / "TwoTheta_scan_scrambled.raw", d.file("s.raw"));
         },
         "--also xy,xye,csv,instprm s.raw", 0, kOk1,
         {"s.TXT", "s.2CL", "s.xy", "s.xye", "s.csv", "s.instprm"},
         "",
         [](const TempDir& d) { checkStoredIntensities(d, "s"); }},
    };
    if (const auto launcher = withoutWriteAccess()) {
        const auto readOnly = [](const TempDir& d) { fs::permissions(d.path(), fs::perms(0555)); };
        const auto writable = [](const TempDir& d) { fs::permissions(d.path(), fs::perms(0755)); };
        table.push_back({"a dry run in a folder it cannot write", readOnly, "-n LAB6.DAT BT86.raw", 1,
                         "LAB6.DAT: cannot write in .\nBT86.raw: cannot write in .\n"
                         "2 files: 0 to convert, 2 failed; dry run, nothing written\n",
                         {}, "", writable, ">\"$E\" 2>&1", *launcher});
        table.push_back({"a folder it cannot write", readOnly, "LAB6.DAT", 1,
                         "LAB6.DAT: cannot write in .\n" + kFailed1, {}, "", writable, "", *launcher});
    } else {
        std::printf("setpriv is missing: the rows without write access are left out\n");
    }
    table.push_back({"calibrate over an existing calibration keeps it", text("LAB6.CAL", "old"),
                     "calibrate --standard lab6 LAB6.DAT", 0,
                     "LAB6.DAT: kept existing LAB6.CAL (use --force to replace)\n"});
    table.push_back({"calibrate --force replaces the calibration", text("LAB6.CAL", "old"),
                     "calibrate --force --standard lab6 LAB6.DAT", 0, "LAB6.DAT: wrote LAB6.CAL (12 knots)\n",
                     {"LAB6.CAL"}, "", [](const TempDir& d) { EXPECT_EQ(fs::file_size(d.file("LAB6.CAL")), 4172u); }});
    table.push_back({"calibrate whose calibration would be its DAT file, forced", copy("LAB6.DAT", "S.CAL"),
                     "calibrate --force --standard lab6 S.CAL", 1,
                     "S.CAL: its output S.CAL would replace an input; nothing written\n"});
    table.push_back({"calibrate refused writes no calibration", nullptr, "calibrate --force --standard si LAB6.DAT", 1,
                     "LAB6.DAT: only 3 reflections matched (at least 5 needed); no CAL written\n"});
    table.push_back({"an empty file name", nullptr, "''", 1, "\"\": empty file name\n" + kFailed1});
    if (convertsOnWindows()) {
        // Held by another program (an editor, a virus scanner) for as long as the run lasts: the
        // 2CL file, replaced first, gets its old bytes back.
        const std::string hold = std::getenv("RAWDAT_HOLD_FILE_COMMAND") ? std::getenv("RAWDAT_HOLD_FILE_COMMAND") : "";
        table.push_back({"a file held open without sharing is never replaced",
                         [=](const TempDir& d) {
                             writeText(d.file("LAB6.RAW"), "old raw");
                             writeText(d.file("LAB6.2CL"), "old 2cl");
                         },
                         "--force LAB6.DAT", 1, "LAB6.DAT: in use by another program (LAB6.RAW)\n" + kFailed1, {},
                         "{ " + hold + " LAB6.RAW \"$E.held\" 10 >/dev/null 2>&1 & } && while [ ! -f \"$E.held\" ]; do sleep 0.1; done && rm \"$E.held\" &&",
                         nullptr});
        table.push_back({"a name differing only in case is the same file", text("lab6.raw", "old"), "LAB6.DAT", 0,
                         "LAB6.DAT: kept existing LAB6.RAW (use --force to replace)\n"
                         "1 file: 0 converted, 1 skipped (output exists), 0 failed\n",
                         {}, "", nullptr});
        std::string deep;
        for (int i = 1; i <= 16; ++i)
            deep += "long-folder-name-" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "/";
        table.push_back({"a path beyond 260 characters",
                         [=](const TempDir& d) {
                             fs::create_directories(d.file(deep));
                             fs::copy_file(d.file("LAB6.DAT"), d.file(deep + "LAB6.DAT"));
                             fs::copy_file(d.file("CPS120.CAL"), d.file(deep + "CPS120.CAL"));
                         },
                         deep + "LAB6.DAT", 0, kOk1, {"long-folder-name-01"}, "",
                         [=](const TempDir& d) {
                             EXPECT_EQ(listFolder(d.file(deep)),
                                       (std::vector<std::string>{"CPS120.CAL", "LAB6.2CL", "LAB6.DAT", "LAB6.RAW"}));
                             EXPECT_EQ(readBytes(d.file(deep + "LAB6.2CL")), lab6Outputs().at("2CL"));
                         },
                         "", ""});
        table.push_back({"a name with accents, CJK characters and a space", copy("LAB6.DAT", "café 測定.DAT"),
                         "'café 測定.DAT'", 0, kOk1, {"café 測定.RAW", "café 測定.2CL"}, "",
                         [](const TempDir& d) {
                             EXPECT_EQ(readBytes(d.file("café 測定.2CL")), lab6Outputs().at("2CL"));
                             EXPECT_TRUE(fs::exists(d.file("café 測定.RAW")));
                         },
                         "", ""});
        // Expanded by the converter, in name order, whatever the case of the extension; a pattern
        // that matches nothing is a name Windows cannot have.
        table.push_back({"*.DAT expanded by the converter",
                         [=](const TempDir& d) {
                             copy("LAB6.DAT", "B.DAT")(d);
                             copy("LAB6.DAT", "a.dat")(d);
                             copy("BT86.raw", "é1.RAW")(d); // ? is one character, é two bytes
                         },
                         "-n '*.DAT' '?1.RAW' 'Q*.DAT'", 1,
                         "B.DAT: would write B.RAW, B.2CL\nLAB6.DAT: would write LAB6.RAW, LAB6.2CL\n"
                         "a.dat: would write a.RAW, a.2CL\né1.RAW: would write é1.TXT, é1.2CL\n"
                         "Q*.DAT: Nom de fichier incorrect\n"
                         "5 files: 4 to convert, 1 failed; dry run, nothing written\n",
                         {}, "", nullptr, ">\"$E\" 2>&1", ""});
    }
    return table;
}

} // namespace

TEST(Safety, EveryScenarioLeavesEveryOtherFileAsItWas)
{
    for (const Row& row : rows()) {
        if (convertsOnWindows() && kPosixOnly.count(row.what))
            continue;
        for (const char* jobs : {"", "--jobs 2 "}) {
            const bool batch = row.args.rfind("export-steps ", 0) != 0 && row.args.rfind("f1b ", 0) != 0 &&
                               row.args.find("info ") == std::string::npos && row.args.rfind("calibrate ", 0) != 0;
            if (*jobs && !batch)
                continue;
            SCOPED_TRACE(std::string(row.what) + " " + jobs);
            TempDir dir;
            sampleFolder(dir);
            if (row.setup)
                row.setup(dir);
            const FolderImage before = folderImage(dir.path());
            const std::vector<std::string> temporariesBefore = temporaries(dir.path());
            const Outcome r = convertIn(dir.path(), jobs + row.args, row.before, row.launcher, row.streams);
            EXPECT_EQ(r.status, row.status);
            EXPECT_EQ(r.err, row.err);
            const FolderImage after = folderImage(dir.path());
            for (const auto& [name, bytes] : after) {
                if (row.changes.count(name))
                    continue;
                const auto was = before.find(name);
                if (was == before.end())
                    ADD_FAILURE() << name << " was written";
                else
                    EXPECT_TRUE(was->second == bytes) << name << " changed";
            }
            for (const auto& [name, bytes] : before)
                EXPECT_TRUE(after.count(name)) << name << " is gone";
            EXPECT_EQ(temporaries(dir.path()), temporariesBefore);
            if (row.check)
                row.check(dir);
        }
    }
}

namespace {

// The outputs of converting `dat` as S000.DAT with `args` (such as "--also xy"), by extension; a
// RAW file without its first 40 bytes, which name the file.
Outputs referenceOutputs(const fs::path& dat, const std::string& args = "")
{
    TempDir ref;
    fs::copy_file(fs::path(RAWDAT_SAMPLES) / "CPS120.CAL", ref.path() / "CPS120.CAL");
    fs::copy_file(dat, ref.path() / "S000.DAT");
    EXPECT_EQ(convertIn(ref.path(), args + " S000.DAT").status, 0);
    Outputs out;
    for (const auto& [name, bytes] : folderImage(ref.path()))
        if (name.rfind("S000.", 0) == 0 && name != "S000.DAT")
            out[name.substr(5)] = bytes;
    out["RAW"].erase(out["RAW"].begin(), out["RAW"].begin() + 40);
    return out;
}

// Every S*.DAT of `dir` has the outputs of one of `refs` (when `all`, every one of them), or only
// some of them but never its RAW file, which is put in place last: a file that looks converted is.
// Returns how many have their RAW file.
int wholeOutputs(const fs::path& dir, int n, const std::vector<Outputs>& refs, bool all, bool killed)
{
    int done = 0;
    for (int i = 0; i < n; ++i) {
        char base[16];
        std::snprintf(base, sizeof base, "S%03d.", i);
        Outputs found;
        for (const auto& [ext, bytes] : refs[0]) {
            if (!fs::exists(dir / (base + ext)))
                continue;
            auto& b = found[ext] = readBytes((dir / (base + ext)).string());
            // The text exports name their source: compare them as if it were S000.DAT.
            for (auto at = b.begin(); (at = std::search(at, b.end(), base, base + 5)) != b.end();)
                at = std::copy_n("S000.", 5, at);
        }
        if (found.count("RAW"))
            found["RAW"].erase(found["RAW"].begin(), found["RAW"].begin() + 40);
        const bool isDone = found.count("RAW") > 0;
        done += isDone;
        EXPECT_TRUE(!all || isDone) << base;
        EXPECT_TRUE(found.empty() || std::any_of(refs.begin(), refs.end(), [&](const Outputs& r) {
                        return std::all_of(found.begin(), found.end(),
                                           [&](const auto& f) { return r.at(f.first) == f.second; }) &&
                               (!isDone || found.size() == r.size()) && (killed || isDone);
                    }))
            << base << ": outputs of no single input, or not all of them";
    }
    if (!killed) {
        EXPECT_TRUE(temporaries(dir).empty());
    }
    return done;
}

const Outputs& lab6Outputs()
{
    static const Outputs out = referenceOutputs(fs::path(RAWDAT_SAMPLES) / "LAB6.DAT");
    return out;
}

// How many files the summary line "N files: K converted, ..." counts as converted.
int convertedIn(const std::string& err)
{
    const auto at = err.rfind(" files: ");
    return at == std::string::npos ? -1 : std::atoi(err.c_str() + at + 8);
}

} // namespace

TEST(Safety, ABatchStoppedBySigtermThenRunAgain)
{
    TempDir dir;
    constexpr int n = 300;
    const std::string names = manyFiles(dir.path(), n);
    const std::string errFile = dir.path().string() + ".err";
    const pid_t pid = start(dir.path(), "--jobs 2" + names, errFile);
    ASSERT_GT(pid, 0);
    // Stop it once it has converted some files.
    for (int waited = 0; waited < 20000 && !fs::exists(dir.file("S020.RAW")); waited += 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(pid, SIGTERM);
    const Outcome stopped = finish(pid, errFile);
    EXPECT_EQ(stopped.status, 143) << stopped.err;
    const int converted = wholeOutputs(dir.path(), n, {lab6Outputs()}, false);
    EXPECT_GT(converted, 0);
    EXPECT_LT(converted, n) << "the batch ended before the signal";
    EXPECT_NE(stopped.err.find(" not converted (interrupted by SIGTERM)\n"), std::string::npos)
        << stopped.err;

    const Outcome again = convertIn(dir.path(), names);
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(std::count(again.err.begin(), again.err.end(), '\n'), converted + 1)
        << "one kept-existing line each, and the summary";
    const std::string summary = std::to_string(n) + " files: " + std::to_string(n - converted) + " converted, " +
                                std::to_string(converted) + " skipped (output exists), 0 failed\n";
    EXPECT_TRUE(again.err.ends_with(summary)) << again.err;
    EXPECT_EQ(wholeOutputs(dir.path(), n, {lab6Outputs()}, true), n);
}

TEST(Safety, ABatchKilledAtRandomMomentsThenRunAgain)
{
    TempDir dir;
    constexpr int n = 300;
    const std::string args = "--quiet --also xy,xye,csv" + manyFiles(dir.path(), n);
    const std::vector<Outputs> refs = {referenceOutputs(fs::path(RAWDAT_SAMPLES) / "LAB6.DAT", "--also xy,xye,csv")};
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::string errFile = dir.path().string() + ".err";
    for (int k = 0; k < 4; ++k) {
        const pid_t pid = start(dir.path(), (k % 2 ? "--jobs 2 " : "") + args, errFile);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution(20, 700)(rng)));
        ::kill(pid, SIGKILL);
        finish(pid, errFile);
        wholeOutputs(dir.path(), n, refs, false, true);
    }
    EXPECT_EQ(convertIn(dir.path(), args).status, 0);
    EXPECT_EQ(wholeOutputs(dir.path(), n, refs, true, true), n);
}

TEST(Safety, ThreeConvertersAtOnceOnOneFolder)
{
    // B's copies differ from A's in one count, so that each output tells which input it is of.
    TempDir b;
    fs::copy_file(fs::path(RAWDAT_SAMPLES) / "LAB6.DAT", b.file("LAB6.DAT"));
    auto bytes = readBytes(b.file("LAB6.DAT"));
    const float count = 54321.0f;
    std::memcpy(bytes.data() + 1045 + 62 * 130 + 1 + 15 * 4, &count, 4); // channel 2000
    writeBytes(b.file("LAB6.DAT"), bytes);
    const std::vector<Outputs> refs = {lab6Outputs(), referenceOutputs(b.file("LAB6.DAT"))};
    ASSERT_NE(refs[0].at("2CL"), refs[1].at("2CL"));

    constexpr int n = 60;
    for (const bool force : {false, true}) {
        for (const bool outputDir : {false, true}) {
            SCOPED_TRACE(std::string(force ? "--force" : "") + (outputDir ? " -o out" : ""));
            TempDir dir;
            for (const char* sub : {"A", "B", "out"})
                fs::create_directory(dir.file(sub));
            manyFiles(dir.file("A"), n);
            const std::string names = manyFiles(dir.file("B"), n);
            for (int i = 0; i < n; ++i)
                fs::copy_file(b.file("LAB6.DAT"), dir.file("B/" + names.substr(1 + 9 * i, 8)),
                              fs::copy_options::overwrite_existing);
            // Without -o, three converters of A's files in A; with it, of A's and B's into out.
            const std::string opts = std::string(force ? "--force " : "") + (outputDir ? "-o ../out" : "");
            const char* folders[3] = {"A", outputDir ? "B" : "A", "A"};
            pid_t pids[3];
            for (int p = 0; p < 3; ++p)
                pids[p] = start(dir.file(folders[p]), (p == 2 ? "--jobs 2 " : "") + opts + names,
                                dir.path().string() + ".err" + std::to_string(p));
            int converted = 0;
            for (int p = 0; p < 3; ++p) {
                const Outcome r = finish(pids[p], dir.path().string() + ".err" + std::to_string(p));
                EXPECT_EQ(r.status, 0) << r.err;
                converted += convertedIn(r.err);
            }
            EXPECT_EQ(wholeOutputs(dir.file(outputDir ? "out" : "A"), n, outputDir ? refs : std::vector<Outputs>{refs[0]}, true), n);
            if (!force) {
                EXPECT_EQ(converted, n) << "each file converted by one converter";
            }
        }
    }
}

TEST(Safety, TwoNamesOfOneFileOnAFolderThatIgnoresCase)
{
    // An exFAT stick, through a loop device and FUSE: root and exfat-fuse are needed.
    TempDir dir;
    const std::string image = dir.file("stick.img"), stick = dir.file("stick");
    fs::create_directory(stick);
    const std::string mount = "truncate -s 8M '" + image + "' && mkfs.exfat '" + image +
                              "' >/dev/null 2>&1 && mount.exfat-fuse -o loop '" + image + "' '" + stick +
                              "' >/dev/null 2>&1 || { L=$(losetup -f --show '" + image +
                              "' 2>/dev/null) && mount.exfat-fuse \"$L\" '" + stick + "' >/dev/null 2>&1; }";
    if (std::system(mount.c_str()) != 0)
        GTEST_SKIP() << "no exFAT folder can be mounted here";
    for (const char* sub : {"A", "B", "stick/out"})
        fs::create_directories(dir.file(sub));
    fs::copy_file(fs::path(RAWDAT_SAMPLES) / "CPS120.CAL", dir.file("A/CPS120.CAL"));
    fs::copy_file(fs::path(RAWDAT_SAMPLES) / "CPS120.CAL", dir.file("B/CPS120.CAL"));
    fs::copy_file(fs::path(RAWDAT_SAMPLES) / "LAB6.DAT", dir.file("A/scan1.DAT"));
    fs::copy_file(fs::path(RAWDAT_SAMPLES) / "LAB6.DAT", dir.file("B/SCAN1.DAT"));
    for (const char* jobs : {"", "--jobs 2 "}) {
        const Outcome r = convertIn(dir.path(), std::string(jobs) + "--force A/scan1.DAT B/SCAN1.DAT -o stick/out");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "A/scan1.DAT: scan1.RAW is also written by B/SCAN1.DAT; nothing written\n"
                         "B/SCAN1.DAT: SCAN1.RAW is also written by A/scan1.DAT; nothing written\n"
                         "2 files: 0 converted, 2 failed\n");
        EXPECT_TRUE(fs::is_empty(dir.file("stick/out")));
    }
    EXPECT_EQ(std::system(("umount '" + stick + "' && { L=$(losetup -j '" + image +
                           "' | cut -d: -f1); [ -z \"$L\" ] || losetup -d $L; }").c_str()),
              0);
}

// A stop signal while f1b or export-steps runs: nothing of theirs is written, no temporary is
// left, the status is 128 + the signal. The signal arrives at a known moment: blocked and raised
// before the converter starts, it is delivered when the converter sets up its handlers.
TEST(Safety, ASubcommandStoppedBySignalWritesNothing)
{
    struct Case {
        std::vector<std::string> args;
        int sig;
        std::string err;
    };
    const Case cases[] = {
        {{"f1b", "run.par", "run.F1B"}, SIGINT, "run.F1B: interrupted by SIGINT; nothing written\n"},
        {{"f1b", "--force", "run.par", "run.F1B"}, SIGHUP, "run.F1B: interrupted by SIGHUP; nothing written\n"},
        {{"export-steps", "BT86.raw", "out.stp"}, SIGTERM, "BT86.raw: interrupted by SIGTERM; nothing written\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + std::to_string(c.sig));
        TempDir dir;
        sampleFolder(dir);
        writeF1bFiles(dir, 1024, 2);
        writeText(dir.file("run.fdt"), "old"); // kept by --force too
        const FolderImage before = folderImage(dir.path());
        const std::string errFile = dir.path().string() + ".err";
        std::vector<char*> argv{const_cast<char*>(RAWDAT_CONVERT)};
        for (const std::string& a : c.args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const std::string folder = dir.path().string();
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) { // only async-signal-safe calls until exec
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err < 0 || ::dup2(err, 2) < 0 || ::chdir(folder.c_str()) != 0)
                ::_exit(127);
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, c.sig);
            ::sigprocmask(SIG_BLOCK, &set, nullptr);
            ::kill(::getpid(), c.sig);
            ::execv(RAWDAT_CONVERT, argv.data());
            ::_exit(127);
        }
        const Outcome r = finish(pid, errFile);
        EXPECT_EQ(r.status, 128 + c.sig);
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(folderImage(dir.path()) == before) << "a file was written";
    }
}
