// Write faults. The file layer fails its k-th operation (create, write, flush, close, rename) on
// request; every writer and both commands run with k = 1, 2, ... until they succeed, and after
// each failure the previous output files are byte for byte intact, no temporary file is left and
// the error names the file. Then real faults: a read-only folder or file, an output path that is a
// folder, a full disk, a name longer than the system allows.
#include "reliability.h"

#include "fmt_raw/raw.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/fsio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <functional>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

namespace {

using Image = std::vector<std::uint8_t>;
using Writer = std::function<void(const std::string& path)>;

// Switches fault injection on for one call, and off again whatever happens.
class FailingOperation {
public:
    explicit FailingOperation(int k) { fsio::testing::failOperation(k); }
    ~FailingOperation() { fsio::testing::failOperation(0); }
    FailingOperation(const FailingOperation&) = delete;
    FailingOperation& operator=(const FailingOperation&) = delete;
};

// The writers of the format library, each with a scan of its own.
struct WriterRow {
    const char* what;
    const char* name;
    Writer write;
};

std::vector<WriterRow> writers()
{
    auto scan = std::make_shared<DatScan>(datScan(300, "C"));
    auto values = std::make_shared<TReal48Array>();
    for (int i = 1; i <= 300; ++i)
        (*values)[i] = Real48::fromValue(scan->d[i]);
    auto xy = std::make_shared<std::array<TSingleArray, 2>>();
    for (int i = 1; i <= 300; ++i) {
        (*xy)[0][i] = 10.0f + 0.02f * static_cast<float>(i);
        (*xy)[1][i] = static_cast<float>(scan->d[i]);
    }
    auto lit = std::make_shared<TLitdat>();
    TCalibration poly;
    poly.PolyCoef[1] = 5.0;
    poly.PolyCoef[2] = 0.025;
    const TCalibration spline = lineCalibration(10, 900, 10.0, 0.02, 12);
    return {
        {"Ecr_DAT", "S.DAT", [=](const std::string& p) { lit->Ecr_DAT(p, scan->h, scan->p, scan->d); }},
        {"Ecr_CAL polynomial", "P.CAL", [=](const std::string& p) { lit->Ecr_CAL(p, poly); }},
        {"Ecr_CAL spline", "C.CAL", [=](const std::string& p) { lit->Ecr_CAL(p, spline); }},
        {"Ecr_TXT", "S.TXT",
         [=](const std::string& p) { lit->Ecr_TXT(p, scan->h, scan->p, *values, 10.0, 0.02, 15.98); }},
        {"Ecr_RAW", "S.RAW",
         [=](const std::string& p) {
             RawModule m;
             m.RangeInfo.Start = 10.0f;
             m.RangeInfo.Step = 0.02f;
             Ecr_RAW(m, p, scan->h, scan->d);
         }},
        {"Ecr_2CL", "S.2CL", [=](const std::string& p) { Ecr_2CL(p, (*xy)[0], (*xy)[1], 300); }},
        {"Ecr_MAUD", "S.stp",
         [=](const std::string& p) { lit->Ecr_MAUD(p, scan->h, scan->p, *values, 10.0, 0.02, 15.98); }},
        {"writeInitFDT", "S.fdt",
         [=](const std::string& p) {
             TScanHeader h = scan->h;
             h.KChannels = 1;
             h.NbScans = 2;
             lit->writeInitFDT(p, h);
         }},
    };
}

// Runs `write` with k = 1, 2, ... until it succeeds, checking every failure; returns the number
// of failures.
int failEachOperation(const std::string& what, const TempDir& dir, const std::string& path,
                      const Writer& write)
{
    const FolderImage before = folderImage(dir.path());
    for (int k = 1; k < 100; ++k) {
        try {
            FailingOperation fail(k);
            write(path);
        } catch (const InOutError& e) {
            EXPECT_EQ(e.text(), iotext::kDiskFull) << what << ", k = " << k;
            EXPECT_EQ(e.file(), path) << what << ", k = " << k;
            EXPECT_EQ(std::string(e.what()), std::string(iotext::kDiskFull) + " (" + path + ")") << what;
            EXPECT_EQ(folderImage(dir.path()), before) << what << ", k = " << k << ": the folder changed";
            continue;
        }
        return k - 1;
    }
    ADD_FAILURE() << what << " never succeeded";
    return -1;
}

} // namespace

TEST(WriteFaults, EveryWriterLeavesThePreviousFileAtEachFailingOperation)
{
    for (const WriterRow& w : writers()) {
        for (bool previous : {true, false}) {
            TempDir dir;
            const std::string path = dir.file(w.name);
            w.write(path); // the RAW2 name field holds the path: the bytes expected at this path
            const Image expected = readBytes(path);
            fs::remove(path);
            if (previous)
                writeText(path, "the previous file, which must survive");
            // create, write, flush, close and rename each fail once.
            EXPECT_EQ(failEachOperation(w.what, dir, path, w.write), 5) << w.what;
            EXPECT_EQ(readBytes(path), expected) << w.what;
            EXPECT_TRUE(temporaries(dir.path()).empty()) << w.what;
        }
    }
}

TEST(WriteFaults, AnEmptyFileHasNoWriteOperationToFail)
{
    TempDir dir;
    const std::string path = dir.file("E.2CL");
    auto xy = std::make_unique<std::array<TSingleArray, 2>>();
    writeText(path, "previous");
    EXPECT_EQ(failEachOperation("empty 2CL", dir, path,
                                [&](const std::string& p) { Ecr_2CL(p, (*xy)[0], (*xy)[1], 0); }),
              4);
    EXPECT_EQ(readBytes(path), Image{});
}

namespace {

// A command over its input in `dir`, run with k = 1, 2, ... until it succeeds. After each failure
// the error names one of the outputs, every output is as it was (the outputs of one command are
// put in place together), and no temporary is left. Returns the number of failures.
int failEachOperationOfACommand(const std::string& what, const TempDir& dir,
                                const std::function<CommandRun()>& run,
                                const std::vector<std::string>& outputs)
{
    const FolderImage before = folderImage(dir.path());
    const auto restore = [&] {
        for (const auto& [name, bytes] : before)
            writeBytes(dir.file(name), bytes);
    };
    EXPECT_TRUE(run().ok) << what;
    const FolderImage converted = folderImage(dir.path());
    int failures = 0;
    for (int k = 1; k < 100; ++k) {
        restore();
        CommandRun r;
        {
            FailingOperation fail(k);
            r = run();
        }
        if (r.ok) {
            EXPECT_EQ(folderImage(dir.path()), converted) << what;
            return failures;
        }
        ++failures;
        EXPECT_TRUE(temporaries(dir.path()).empty()) << what << ", k = " << k;
        if (r.errors.size() != 1) {
            ADD_FAILURE() << what << ", k = " << k << ": " << r.errors.size() << " errors";
            return -1;
        }
        const FolderImage after = folderImage(dir.path());
        EXPECT_EQ(after.size(), before.size()) << what << ", k = " << k;
        int named = 0;
        for (const auto& out : outputs) {
            if (r.errors[0] == std::string(iotext::kDiskFull) + " (" + dir.file(out) + ")")
                ++named;
            EXPECT_EQ(after.at(out), before.at(out)) << what << ", k = " << k << ": " << out << " changed";
        }
        EXPECT_EQ(named, 1) << what << ", k = " << k << ": " << r.errors[0];
        for (const auto& [name, bytes] : before) {
            if (std::find(outputs.begin(), outputs.end(), name) == outputs.end()) {
                EXPECT_EQ(after.at(name), bytes) << what << ": input " << name << " changed";
            }
        }
    }
    ADD_FAILURE() << what << " never succeeded";
    return -1;
}

} // namespace

TEST(WriteFaults, TheDatCommandAtEachFailingOperation)
{
    TempDir dir;
    const std::string dat = writeDatWithCalibration(dir, 300);
    // Outputs of an earlier conversion of another scan.
    TLitdat lit;
    const auto other = std::make_unique<DatScan>(datScan(200, "C"));
    lit.Ecr_DAT(dat, other->h, other->p, other->d);
    ASSERT_TRUE(runDatCommand(dat).ok);
    writeDatWithCalibration(dir, 300);
    // Two files of four operations each (create, write, flush, close), the previous RAW file kept
    // aside until the 2CL file is in place, and two renames.
    EXPECT_EQ(failEachOperationOfACommand("DAT command", dir, [&] { return runDatCommand(dat); },
                                          {"S.2CL", "S.RAW"}),
              11);
}

TEST(WriteFaults, TheRawCommandAtEachFailingOperation)
{
    TempDir dir;
    const std::string raw = writeRaw2(dir, "S.RAW", 150);
    ASSERT_TRUE(runRawCommand(raw).ok);
    writeRaw2(dir, "S.RAW", 400);
    EXPECT_EQ(failEachOperationOfACommand("RAW command", dir, [&] { return runRawCommand(raw); },
                                          {"S.2CL", "S.TXT"}),
              11);
}

TEST(WriteFaults, TheF1bConversionAtEachFailingOperation)
{
    TempDir dir;
    writeF1bFiles(dir, 100, 1); // files of an earlier conversion of other scans
    ASSERT_TRUE(runF1bConversion(dir).ok);
    writeF1bFiles(dir, 100, 2);
    // The FDT's temporary created empty (create, flush, close), its header (5 operations), two
    // records in place (4 each), the CAL file (4), the previous FDT kept aside (1) and the two
    // renames: both files or neither.
    EXPECT_EQ(failEachOperationOfACommand("F1B conversion", dir, [&] { return runF1bConversion(dir); },
                                          {"run.cal", "run.fdt"}),
              23);
}

TEST(WriteFaults, AnFdtRecordIsWrittenWholeOrNotAtAll)
{
    // EcrScanFDT updates its file in place: a failure leaves the file as it was or with the whole
    // record written, never a part of it, and names the file.
    TempDir dir;
    TLitdat lit;
    const std::string path = writeFdt(dir, "S.fdt");
    const Image before = readBytes(path);
    auto scan = std::make_unique<DatScan>(datScan(1024, "C"));
    scan->h.KChannels = 1;
    scan->h.NbScans = 1;
    scan->d.fill(7);
    lit.EcrScanFDT(1, path, scan->p, scan->h, scan->d);
    const Image written = readBytes(path);
    int failures = 0;
    for (int k = 1;; ++k) {
        writeBytes(path, before);
        try {
            FailingOperation fail(k);
            lit.EcrScanFDT(1, path, scan->p, scan->h, scan->d);
        } catch (const InOutError& e) {
            ++failures;
            EXPECT_EQ(std::string(e.what()), std::string(iotext::kDiskFull) + " (" + path + ")");
            const Image after = readBytes(path);
            EXPECT_TRUE(after == before || after == written) << "k = " << k;
            continue;
        }
        break;
    }
    EXPECT_EQ(failures, 4); // open, write, flush, close
    EXPECT_EQ(readBytes(path), written);
}

// ---- real faults ----

namespace {

// Every writer against a target that cannot be written: each fails with the runtime's `text`
// naming the target (or, when `text` is a refusal's, "TARGET: text"), and the folder is as it was.
void everyWriterFails(const TempDir& dir, const std::string& text,
                      const std::function<std::string(const WriterRow&)>& target, bool refusal = false)
{
    for (const WriterRow& w : writers()) {
        const std::string path = target(w);
        const FolderImage before = folderImage(dir.path());
        try {
            w.write(path);
            ADD_FAILURE() << w.what << " wrote " << path;
        } catch (const RawdatError& e) {
            EXPECT_EQ(std::string(e.what()), refusal ? path + ": " + text : text + " (" + path + ")")
                << w.what;
        }
        EXPECT_EQ(folderImage(dir.path()), before) << w.what;
    }
}

} // namespace

TEST(WriteFaults, AReadOnlyFolder)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root: permissions do not stop root's writes";
    TempDir dir;
    writeText(dir.file("S.RAW"), "previous");
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    everyWriterFails(dir, iotext::kAccessDenied, [&](const WriterRow& w) { return dir.file(w.name); });
    fs::permissions(dir.path(), fs::perms::owner_all);
}

TEST(WriteFaults, AReadOnlyFileIsNotReplaced)
{
    TempDir dir;
    for (const WriterRow& w : writers()) {
        writeText(dir.file(w.name), "previous");
        fs::permissions(dir.file(w.name), fs::perms::owner_read | fs::perms::group_read);
    }
    everyWriterFails(dir, iotext::kAccessDenied, [&](const WriterRow& w) { return dir.file(w.name); });
}

TEST(WriteFaults, AnOutputPathThatIsAFolder)
{
    TempDir dir;
    for (const WriterRow& w : writers()) {
        fs::create_directory(dir.file(w.name));
        writeText(dir.file(w.name) + "/inside", "kept");
    }
    // Once "Accès au fichier refusé": now said as it is.
    everyWriterFails(
        dir, "exists as a folder, not a regular file; left as it is",
        [&](const WriterRow& w) { return dir.file(w.name); }, true);
    EXPECT_EQ(readText(dir.file("S.RAW") + "/inside"), "kept");
}

TEST(WriteFaults, ANameLongerThanTheSystemAllows)
{
    // The temporary is created (its name is cut) and the rename fails: the error keeps the
    // rename's reason (it once reported "Erreur d'E/S", the reason lost by the clean-up).
    TempDir dir;
    const long nameMax = ::pathconf(dir.path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(nameMax, 3);
    everyWriterFails(dir, iotext::kBadFileName, [&](const WriterRow& w) {
        const std::string name = w.name;
        return dir.file(std::string(static_cast<std::size_t>(nameMax) + 1 - name.size(), 'x') + name);
    });
}

TEST(WriteFaults, ANameOfExactlyTheLongestLengthIsWritten)
{
    // Regression: the temporary ".NAME.tmpN" was longer than the longest name, so a target of a
    // legal long name could not be written at all.
    TempDir dir;
    const long nameMax = ::pathconf(dir.path().c_str(), _PC_NAME_MAX);
    for (const WriterRow& w : writers()) {
        const std::string name = w.name;
        const std::string path =
            dir.file(std::string(static_cast<std::size_t>(nameMax) - name.size(), 'x') + name);
        EXPECT_NO_THROW(w.write(path)) << w.what;
        EXPECT_EQ(fs::file_size(path), bytesWritten(w.name, w.write).size()) << w.what;
        EXPECT_TRUE(temporaries(dir.path()).empty()) << w.what;
    }
}

TEST(WriteFaults, TheDatCommandConvertsAFileOfTheLongestName)
{
    TempDir dir;
    const long nameMax = ::pathconf(dir.path().c_str(), _PC_NAME_MAX);
    const std::string base(static_cast<std::size_t>(nameMax) - 4, 'L');
    const std::string dat = writeDatWithCalibration(dir, 300);
    fs::rename(dat, dir.file(base + ".DAT"));
    const CommandRun r = runDatCommand(dir.file(base + ".DAT"));
    EXPECT_TRUE(r.ok) << (r.errors.empty() ? "" : r.errors[0]);
    EXPECT_EQ(listFolder(dir.path()),
              (std::vector<std::string>{"C.CAL", base + ".2CL", base + ".DAT", base + ".RAW"}));
}

namespace {

// A limit on the size of the files this process writes, as a full disk would stop them
// (writes beyond it fail with EFBIG instead of raising SIGXFSZ).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit r = saved_;
        r.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

// A 64 KB tmpfs mounted on a folder of its own (root only).
class SmallDisk {
public:
    SmallDisk() { mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, "size=64k") == 0; }
    ~SmallDisk()
    {
        if (mounted_)
            ::umount(dir_.path().c_str());
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
    bool mounted_ = false;
};

// A RAW file of 32767 steps (131 KB) written over a small previous RAW file.
void aFullDiskStopsTheWrite(const TempDir& dir)
{
    auto big = std::make_unique<DatScan>(datScan(kDataCapacity, "C"));
    RawModule m;
    m.RangeInfo.Step = 0.01f;
    const std::string path = dir.file("S.RAW");
    writeText(path, "the previous file, which must survive");
    const FolderImage before = folderImage(dir.path());
    try {
        Ecr_RAW(m, path, big->h, big->d);
        ADD_FAILURE() << "a file of 131 KB was written";
    } catch (const InOutError& e) {
        EXPECT_EQ(std::string(e.what()), std::string(iotext::kDiskFull) + " (" + path + ")");
    }
    EXPECT_EQ(folderImage(dir.path()), before);
}

} // namespace

TEST(WriteFaults, AFullDiskByAFileSizeLimit)
{
    TempDir dir;
    FileSizeLimit limit(64 * 1024);
    aFullDiskStopsTheWrite(dir);
}

TEST(WriteFaults, AFullDiskOnASmallTmpfs)
{
    SmallDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    aFullDiskStopsTheWrite(disk.dir());

    // The DAT command on a full disk: the two-column file of a long conversion does not fit.
    const std::string dat = writeDatWithCalibration(disk.dir(), 8000);
    fs::remove(disk.dir().file("S.RAW"));
    const CommandRun r = runDatCommand(dat);
    ASSERT_FALSE(r.ok);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].rfind(std::string(iotext::kDiskFull) + " (" + disk.dir().file("S."), 0), 0u)
        << r.errors[0];
    EXPECT_TRUE(temporaries(disk.dir().path()).empty());
}
