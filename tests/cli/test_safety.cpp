// No file is ever lost: rawdat-convert against the folders a lab really has. Each row runs in a
// fresh folder holding LAB6.DAT, CPS120.CAL and BT86.raw, with --jobs 1 and again with --jobs 2,
// and checks the exit status, the lines on standard error, that every file not meant to change is
// byte for byte what it was, and that no temporary is left.
#include "reliability.h"
#include "ulit_dat/fsio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
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
// same shell, e.g. a ulimit or a timeout); its standard error goes to `errFile`.
pid_t start(const fs::path& folder, const std::string& args, const std::string& errFile,
            const std::string& before = "", const std::string& launcher = "")
{
    const std::string cmd = "cd '" + folder.string() + "' && " + before + " exec " + launcher +
                            " '" RAWDAT_CONVERT "' " + args + " 2>'" + errFile + "' >/dev/null";
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
    fs::remove(errFile);
    return r;
}

Outcome convertIn(const fs::path& folder, const std::string& args, const std::string& before = "")
{
    const std::string errFile = (folder.parent_path() / (folder.filename().string() + ".err")).string();
    return finish(start(folder, args, errFile, before, "timeout 30"), errFile);
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

struct Row {
    const char* what;
    std::function<void(const TempDir&)> setup;
    std::string args;
    int status;
    std::string err;                    // exact, summary included
    std::set<std::string> changes = {}; // files written (all others stay byte for byte)
    std::string before = "";            // shell commands before the converter
    std::function<void(const TempDir&)> check = nullptr;
};

const std::string kOk1 = "1 file: 1 converted, 0 failed\n";
const std::string kFailed1 = "1 file: 0 converted, 1 failed\n";

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
    auto f1bFiles = [](const TempDir& d) { writeF1bFiles(d, 1024, 2); }; // run.F1B and run.par
    auto f1bWith = [=](const char* name, const char* content) {
        return [=](const TempDir& d) {
            f1bFiles(d);
            writeText(d.file(name), content);
        };
    };
    return {
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
         "--force LAB6.DAT", 1,
         "LAB6.DAT: LAB6.RAW: exists as a folder, not a regular file; left as it is\n" + kFailed1},
        {"an output that is a symbolic link",
         [](const TempDir& d) {
             writeText(d.file("notes.txt"), "notes");
             fs::create_symlink("notes.txt", d.file("LAB6.2CL"));
         },
         "--force LAB6.DAT", 1,
         "LAB6.DAT: LAB6.2CL: exists as a symbolic link, not a regular file; left as it is\n" + kFailed1},
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
         "--force F.raw F_2.raw",
         1,
         "F.raw: 3 ranges; F.TXT holds range 1, ranges 2 and 3 are in F_2.TXT, F_3.TXT\n"
         "F_2.raw: F_2.TXT is also written by F.raw; nothing written\n2 files: 1 converted, 1 failed\n",
         {"F.TXT", "F.2CL", "F_2.TXT", "F_2.2CL", "F_3.TXT", "F_3.2CL"}},
        {"--force replaces both and keeps the permission bits",
         [](const TempDir& d) {
             writeText(d.file("LAB6.RAW"), "old");
             fs::permissions(d.file("LAB6.RAW"), fs::perms::owner_read | fs::perms::owner_write);
         },
         "--force LAB6.DAT",
         0,
         kOk1,
         {"LAB6.RAW", "LAB6.2CL"},
         "",
         [](const TempDir& d) {
             EXPECT_EQ(fs::status(d.file("LAB6.RAW")).permissions(),
                       fs::perms::owner_read | fs::perms::owner_write);
         }},
        {"two inputs that write one file",
         copy("LAB6.DAT", "LAB6.dat"),
         "--force LAB6.DAT LAB6.dat",
         1,
         "LAB6.dat: LAB6.RAW is also written by LAB6.DAT; nothing written\n2 files: 1 converted, 1 failed\n",
         {"LAB6.RAW", "LAB6.2CL"}},
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
        {"an empty file name", nullptr, "''", 1, "\"\": empty file name\n" + kFailed1},
    };
}

} // namespace

TEST(Safety, EveryScenarioLeavesEveryOtherFileAsItWas)
{
    for (const Row& row : rows()) {
        for (const char* jobs : {"", "--jobs 2 "}) {
            const bool batch = row.args.rfind("export-steps ", 0) != 0 && row.args.rfind("f1b ", 0) != 0 &&
                               row.args.rfind("info ", 0) != 0;
            if (*jobs && !batch)
                continue;
            SCOPED_TRACE(std::string(row.what) + " " + jobs);
            TempDir dir;
            sampleFolder(dir);
            if (row.setup)
                row.setup(dir);
            const FolderImage before = folderImage(dir.path());
            const std::vector<std::string> temporariesBefore = temporaries(dir.path());
            const Outcome r = convertIn(dir.path(), jobs + row.args, row.before);
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

// `n` copies of LAB6.DAT, S000.DAT ..., beside its calibration; their names in order.
std::string manyFiles(const TempDir& dir, int n)
{
    fs::copy_file(fs::path(RAWDAT_SAMPLES) / "CPS120.CAL", dir.path() / "CPS120.CAL");
    std::string names;
    for (int i = 0; i < n; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "S%03d.DAT", i);
        fs::copy_file(fs::path(RAWDAT_SAMPLES) / "LAB6.DAT", dir.path() / name);
        names += std::string(" ") + name;
    }
    return names;
}

// Every S*.DAT has both outputs whole or neither (when `all`, both); returns how many have both.
int wholeOutputs(const TempDir& dir, int n, bool all)
{
    TempDir ref;
    fs::copy_file(fs::path(RAWDAT_SAMPLES) / "CPS120.CAL", ref.path() / "CPS120.CAL");
    fs::copy_file(fs::path(RAWDAT_SAMPLES) / "LAB6.DAT", ref.path() / "S000.DAT");
    EXPECT_EQ(convertIn(ref.path(), "S000.DAT").status, 0);
    const auto raw = readBytes(ref.file("S000.RAW"));
    const auto twoColumn = readBytes(ref.file("S000.2CL"));
    int both = 0;
    for (int i = 0; i < n; ++i) {
        char base[16];
        std::snprintf(base, sizeof base, "S%03d.", i);
        const bool hasRaw = fs::exists(dir.file(std::string(base) + "RAW"));
        const bool has2cl = fs::exists(dir.file(std::string(base) + "2CL"));
        EXPECT_EQ(hasRaw, has2cl) << base;
        EXPECT_TRUE(!all || hasRaw) << base;
        if (!hasRaw || !has2cl)
            continue;
        ++both;
        EXPECT_TRUE(readBytes(dir.file(std::string(base) + "2CL")) == twoColumn) << base;
        const auto r = readBytes(dir.file(std::string(base) + "RAW"));
        EXPECT_TRUE(r.size() == raw.size() && std::equal(r.begin() + 40, r.end(), raw.begin() + 40)) << base;
    }
    EXPECT_TRUE(temporaries(dir.path()).empty());
    return both;
}

} // namespace

TEST(Safety, ABatchStoppedBySigtermThenRunAgain)
{
    TempDir dir;
    constexpr int n = 300;
    const std::string names = manyFiles(dir, n);
    const std::string errFile = dir.path().string() + ".err";
    const pid_t pid = start(dir.path(), "--jobs 2" + names, errFile);
    ASSERT_GT(pid, 0);
    // Stop it once it has converted some files.
    for (int waited = 0; waited < 20000 && !fs::exists(dir.file("S020.RAW")); waited += 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(pid, SIGTERM);
    const Outcome stopped = finish(pid, errFile);
    EXPECT_EQ(stopped.status, 143) << stopped.err;
    const int converted = wholeOutputs(dir, n, false);
    EXPECT_GT(converted, 0);
    EXPECT_LT(converted, n) << "the batch ended before the signal";
    EXPECT_NE(stopped.err.find(" not converted (interrupted by SIGTERM)\n"), std::string::npos)
        << stopped.err;

    const Outcome again = convertIn(dir.path(), "--quiet" + names);
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(std::count(again.err.begin(), again.err.end(), '\n'), converted)
        << "one kept-existing line each";
    EXPECT_EQ(wholeOutputs(dir, n, true), n);
}

TEST(Safety, TwoConvertersAtOnceOnOneFolder)
{
    TempDir dir;
    constexpr int n = 60;
    const std::string names = manyFiles(dir, n);
    const std::string err1 = dir.path().string() + ".err1";
    const std::string err2 = dir.path().string() + ".err2";
    const pid_t a = start(dir.path(), "--force --quiet" + names, err1);
    const pid_t b = start(dir.path(), "--force --quiet --jobs 2" + names, err2);
    const Outcome ra = finish(a, err1);
    const Outcome rb = finish(b, err2);
    EXPECT_EQ(ra.status, 0) << ra.err;
    EXPECT_EQ(rb.status, 0) << rb.err;
    EXPECT_EQ(wholeOutputs(dir, n, true), n);
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
