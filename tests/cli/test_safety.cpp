// No file is ever lost: rawdat-convert against the folders a lab really has. Each row runs in a
// fresh folder holding LAB6.DAT, CPS120.CAL and BT86.raw, with --jobs 1 and again with --jobs 2,
// and checks the exit status, the lines on standard error, that every file not meant to change is
// byte for byte what it was, and that no temporary is left.
#include "fmt_raw/raw_images.h"
#include "reliability.h"
#include "ulit_dat/fsio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
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
    const std::string convert = launcher + " '" RAWDAT_CONVERT "' " + args;
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

std::string manyFiles(const TempDir& dir, int n);
int wholeOutputs(const TempDir& dir, int n, bool all);

const std::string kOk1 = "1 file: 1 converted, 0 failed\n";
const std::string kFailed1 = "1 file: 0 converted, 1 failed\n";

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
        {"closed standard error",
         [](const TempDir& d) {
             fs::remove(d.file("CPS120.CAL"));
             manyFiles(d, 8);
             for (int i = 0; i < 8; ++i) // each fails with a line on standard error
                 writeText(d.file("c" + std::to_string(i) + ".DAT"), "\x4b\x02");
         },
         "c0.DAT S000.DAT c1.DAT S001.DAT c2.DAT S002.DAT c3.DAT S003.DAT c4.DAT S004.DAT c5.DAT S005.DAT "
         "c6.DAT S006.DAT c7.DAT S007.DAT",
         1, "", manyOutputs(8), "", [](const TempDir& d) { EXPECT_EQ(wholeOutputs(d, 8, true), 8); },
         "2>&- >\"$E\""},
        {"a reader that goes away",
         [](const TempDir& d) {
             fs::remove(d.file("CPS120.CAL"));
             manyFiles(d, 30);
             writeText(d.file("cut.DAT"), "\x4b\x02");
         },
         "cut.DAT S*.DAT", 1, "cut.DAT: Lecture au-delà de la fin de fichier (byte 2)\n", manyOutputs(30), "",
         [](const TempDir& d) { wholeOutputs(d, 30, false); }, "2>&1 | head -1 >\"$E\""},
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
    table.push_back({"an empty file name", nullptr, "''", 1, "\"\": empty file name\n" + kFailed1});
    return table;
}

} // namespace

TEST(Safety, EveryScenarioLeavesEveryOtherFileAsItWas)
{
    for (const Row& row : rows()) {
        for (const char* jobs : {"", "--jobs 2 "}) {
            const bool batch = row.args.rfind("export-steps", 0) != 0 && row.args.rfind("info", 0) != 0;
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
