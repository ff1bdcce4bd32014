// rawdat-convert: the command-line front end of the two conversions, for batches.
//
//   rawdat-convert [OPTION]... FILE...
//   rawdat-convert info [--json] FILE...
//
// Each FILE is converted by its content, with a fresh state, exactly as the window would convert
// it: a DAT file gives NAME.RAW and NAME.2CL beside it, a RAW file NAME.TXT and NAME.2CL.
#include "cli/calibrate_report.h"
#include "cli/options.h"
#include "cli/wildcards.h"
#include "convert/batch.h"
#include "convert/headless_ui.h"
#include "convert/info_json.h"
#include "ulit_dat/describe.h"
#include "ulit_dat/f1b.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/names.h"
#include "ulit_dat/platform.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace fs = std::filesystem;
using namespace rawdat;

namespace {

constexpr const char* kUsage =
    "Usage: rawdat-convert [OPTION]... FILE...\n"
    "       rawdat-convert info [--json] FILE...\n"
    "       rawdat-convert f1b [-f] PARAMFILE F1BFILE\n"
    "       rawdat-convert export-steps [-f] RAWFILE OUTFILE\n"
    "       rawdat-convert calibrate (--standard lab6|si|ceo2 | --lines FILE) [--wavelength A]\n"
    "                                [--json] [-f] [-o DIR] DAT...\n"
    "\n"
    "Converts powder-diffraction patterns as the rawdat window does, one file after another.\n"
    "Each FILE is recognised by its content:\n"
    "  a detector DAT file  gives NAME.RAW (RAW2) and NAME.2CL beside it; its calibration\n"
    "                       file, named in its header, must lie in the same folder;\n"
    "  a RAW file           gives NAME.TXT and NAME.2CL beside it. A RAW file of several\n"
    "                       ranges gives them for its main range (the first; the last of\n"
    "                       a RAW2 file) and NAME_k.TXT, NAME_k.2CL for each other range k\n"
    "                       (numbered from 1 in file order), and says so on standard\n"
    "                       error: \"FILE: 3 ranges; NAME.TXT holds range 1, ranges 2 and 3\n"
    "                       are in NAME_2.TXT, NAME_3.TXT\". A file of more than 256\n"
    "                       ranges is refused.\n"
    "NAME is FILE with its extension (the part after the last dot of its name) taken off.\n"
    "All outputs of a file are written together or not at all; a failure leaves every file\n"
    "as it was. The whole batch is checked before anything is written: a file whose output\n"
    "would replace an input or a calibration, and a file whose output another file of the\n"
    "batch also writes (the second on the command line), are refused.\n"
    "\n"
    "Options:\n"
    "  -f, --force           replace existing output files. Without it a file any of whose\n"
    "                        outputs exists is skipped whole: \"FILE: kept existing NAME.EXT\n"
    "                        (use --force to replace)\", counted as skipped, not as a failure.\n"
    "  -j, --jobs N          convert N files at a time (default 1, 0: one per core); the files\n"
    "                        written, the lines printed (in the order of the FILEs) and the\n"
    "                        exit status are the same.\n"
    "  -o, --output-dir DIR  write the outputs into the existing folder DIR instead of beside\n"
    "                        each FILE (a DAT file's calibration is still looked up beside it).\n"
    "  -n, --dry-run         convert in memory and print on standard output, one line per FILE,\n"
    "                        what would be written or why not; write nothing. The exit status\n"
    "                        is the real run's.\n"
    "      --cal FILE        use the calibration FILE for every DAT file instead of the one its\n"
    "                        header names.\n"
    "      --also LIST       also write the pattern as text for analysis programs, LIST being\n"
    "                        one or more of xy, xye, csv and instprm (the GSAS-II instrument\n"
    "                        parameter file) separated by commas, in any case: NAME.xy, ...\n"
    "                        Repeated, the lists add up. Each intensity is the shortest decimal\n"
    "                        that reads back as the value stored.\n"
    "  -q, --quiet           no progress line, no summary, no \"kept existing\" or ranges\n"
    "                        notice; failures are still printed.\n"
    "  -h, --help            show this text.\n"
    "  -V, --version         print the version.\n"
    "  --                    ends the options: every argument after it is a FILE.\n"
    "A FILE named '-' is refused: outputs are always files beside their input (or in DIR).\n"
    "A command (info, f1b, export-steps) comes first, after -q and, for f1b and export-steps,\n"
    "-f only; its name after a FILE is refused: give a file of that name as ./NAME or after --.\n"
    "\n"
    "  info [--json] FILE...\n"
    "              print what the window's memo shows for FILE (ten lines for a DAT file,\n"
    "              three for a RAW file), or a short summary of a CAL, FDT or DTB file; UTF-8.\n"
    "              Of several files, each one's lines follow a line \"FILE:\", and an empty\n"
    "              line separates them. --json: one JSON object per FILE and line (see\n"
    "              rawdat-convert(1)); a file that cannot be read gives {\"path\": FILE,\n"
    "              \"error\": message} and its line on standard error.\n"
    "  f1b [-f] PARAMFILE F1BFILE\n"
    "              convert an F1B multi-scan file and its scan parameter file into NAME.fdt\n"
    "              and the straight-line calibration NAME.cal, beside the F1B file (NAME is\n"
    "              F1BFILE without its extension); both are written or neither.\n"
    "  export-steps [-f] RAWFILE OUTFILE\n"
    "              write the pattern of a RAW file as a step-scan text file (lines end with CR).\n"
    "  calibrate (--standard lab6|si|ceo2 | --lines FILE) [--wavelength A] [--json] [-f]\n"
    "            [-o DIR] DAT...\n"
    "              calibrate the detector from each DAT file, a measured standard (a --lines\n"
    "              FILE holds one d-spacing in angstroms a line, # comments), at the header's\n"
    "              wavelength unless --wavelength is given: NAME.CAL beside it (or in DIR),\n"
    "              and on standard output one line per matched reflection, the peaks found\n"
    "              and matched, the residuals and the 2-theta range the calibration converts\n"
    "              (--json: JSON Lines). A file with fewer than 5 reflections matched, with\n"
    "              residuals above 0.05 degree, or whose peaks are not the standard's at this\n"
    "              wavelength is refused (status 1, no CAL written).\n"
    "  No subcommand replaces an input, and export-steps never a DAT or CAL file. Without -f\n"
    "  (--force) neither replaces an existing file: \"FILE: kept existing NAME (use --force\n"
    "  to replace)\", exit status 0, nothing written.\n"
    "\n"
    "Exit status: 0 when no file failed (skipped files are no failure), 1 when any file failed\n"
    "or what is printed cannot be written (the files being converted are finished whole),\n"
    "2 for a usage error; 130, 143 or 129 when stopped by SIGINT, SIGTERM or SIGHUP: the\n"
    "files being converted are finished whole or not at all, no further file is started,\n"
    "no temporary file is left and the summary is printed.\n"
    "Each failure is one line on standard error: FILE: message.\n";

// Each file gets a fresh state and fresh work arrays, about 1.5 MB allocated and freed per file.
// glibc would hand those blocks back to the system after every file and take the page faults of
// zeroing them again for the next, which costs more than a RAW file's whole conversion: keep them
// in the heap instead. The peak resident size stays that of one file per worker.
void keepFreedMemoryForTheNextFile()
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}

// Control characters of a file name or message, escaped: one failure is one line. For a text in
// Windows-1252 that goes to the terminal (`windows1252`), a tab is kept and the five bytes that
// code no character (0x81, 0x8D, 0x8F, 0x90, 0x9D: C1 controls once in UTF-8) are escaped too.
std::string escaped(std::string_view text, bool windows1252 = false)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const auto undefined = [](unsigned char c) {
        return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
    };
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if ((c >= 0x20 && c != 0x7F && !(windows1252 && undefined(c))) || (windows1252 && c == '\t')) {
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// The line "FILE: message" about the input the user gave as `given` (its absolute form `path`,
// which the conversion's messages use; see userMessage).
std::string userLine(const std::string& given, const std::string& path, std::string message)
{
    return (given.empty() ? std::string("\"\"") : escaped(given)) + ": " +
           escaped(userMessage(given, path, std::move(message)));
}

int info(const std::string& given, bool heading)
{
    if (given.empty()) {
        std::fprintf(stderr, "%s\n", userLine(given, {}, "empty file name").c_str());
        return 1;
    }
    const std::string path = absolutePath(given);
    TRawDatState state;
    TLitdat lit;
    HeadlessUi ui(path, false);
    TConversion conv(state, lit, ui);
    std::vector<std::string> lines;
    try {
        switch (kindOf(path)) {
        case ContentKind::Dat:
            if (!conv.loadDat(path)) {
                std::fprintf(stderr, "%s\n", userLine(given, path, "file not opened").c_str());
                return 1;
            }
            lines = ui.memo;
            break;
        case ContentKind::Raw:
            conv.loadRaw(path);
            lines = ui.memo;
            break;
        case ContentKind::Cal: lines = describeCal(path); break;
        case ContentKind::Fdt: lines = describeFdt(path); break;
        case ContentKind::Dtb: lines = describeDtb(path); break;
        case ContentKind::Unknown:
            std::fprintf(
                stderr, "%s\n",
                userLine(given, path, "not a file rawdat knows (DAT, RAW, CAL, FDT or DTB)").c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", userLine(given, path, e.what()).c_str());
        return 1;
    }
    // A file's texts reach the terminal as text, never as its control sequences.
    if (heading)
        std::printf("%s:\n", windows1252ToUtf8(escaped(given)).c_str());
    for (const auto& line : lines)
        std::printf("%s\n", windows1252ToUtf8(escaped(line, true)).c_str());
    return 0;
}

// The signal handling of the batch (below), which f1b and export-steps share.
void catchStopSignals();
int stopSignal();

// Runs the work of a subcommand about `file` and gives its exit status: an error it raises becomes
// the line "FILE: message" on standard error (1); an output found to exist without --force
// "FILE: kept existing NAME (use --force to replace)" (0, nothing written). Stopped by a signal,
// its temporaries are removed and it ends with 128 + the signal's number.
template <class Work>
int runSubcommand(const std::string& file, bool quiet, Work work)
{
    auto line = [&](const std::string& message) {
        std::fprintf(stderr, "%s\n", userLine(file, absolutePath(file), message).c_str());
    };
    int status = 0;
    try {
        work();
    } catch (const fsio::TargetExists& e) {
        if (!quiet)
            line("kept existing " + e.target() + " (use --force to replace)");
    } catch (const fsio::Interrupted&) {
        const int sig = stopSignal();
        line(std::string("interrupted by ") + platform::signalName(sig) + "; nothing written");
        status = 1;
    } catch (const std::exception& e) {
        line(e.what());
        status = 1;
    }
    if (const int sig = stopSignal()) {
        fsio::removeTemporaries();
        return 128 + sig;
    }
    return status;
}

// The outputs of a subcommand, before anything is read: one that exists and is not a regular
// file is refused, and so, with --force, is one that cannot be replaced. Without --force an
// existing last output (the one whose presence means "done") keeps them all unwritten; the others
// are checked as they are put in place.
void checkOutputs(const std::vector<std::string>& outputs, bool force)
{
    std::error_code ec;
    for (const std::string& o : outputs)
        if (force || !fs::is_regular_file(fs::symlink_status(platform::fsPath(o), ec)))
            fsio::checkReplaceable(o);
    if (!force && fs::exists(fs::symlink_status(platform::fsPath(outputs.back()), ec)))
        throw fsio::TargetExists(outputs.back());
}

fsio::OutputGroup::Placement placement(bool force)
{
    return force ? fsio::OutputGroup::Placement::Replace : fsio::OutputGroup::Placement::NoClobber;
}

// rawdat-convert f1b [-f] PARAMFILE F1BFILE: NAME.fdt and NAME.cal beside the F1B file.
int f1b(const std::string& paramFile, const std::string& f1bFile, bool force, bool quiet)
{
    TLitdat lit;
    TScanHeader header;
    TScanParams params;
    TCalibration cal;
    auto data = std::make_unique<TData>();
    return runSubcommand(f1bFile, quiet, [&] {
        if (paramFile.empty() || f1bFile.empty())
            throw Refusal({}, "empty file name");
        const F1bOutputs out = f1bOutputs(f1bFile);
        for (const std::string& o : {out.fdt, out.cal})
            if (fsio::sameFile(o, paramFile) || fsio::sameFile(o, f1bFile))
                throw Refusal({}, "its output " + o + " would replace an input; nothing written");
        checkOutputs({out.fdt, out.cal}, force);
        lit.lect_F1B(paramFile, f1bFile, params, header, *data, cal, placement(force));
        if (!quiet)
            std::fprintf(stderr, "%s: wrote %s (%d scans of %d channels) and %s\n", escaped(f1bFile).c_str(),
                     escaped(out.fdt).c_str(), header.NbScans, header.NbChannels, escaped(out.cal).c_str());
    });
}

// rawdat-convert export-steps [-f] RAWFILE OUTFILE: the step-scan text export of a RAW file's
// pattern.
int exportSteps(const std::string& rawFile, const std::string& outFile, bool force, bool quiet)
{
    TLitdat lit;
    RawModule raw;
    TScanHeader header;
    TScanParams params;
    auto data = std::make_unique<TData>();
    auto values = std::make_unique<TReal48Array>();
    return runSubcommand(rawFile, quiet, [&] {
        if (rawFile.empty() || outFile.empty())
            throw Refusal({}, "empty file name");
        if (fsio::sameFile(rawFile, outFile))
            throw Refusal({}, "its output " + outFile + " would replace an input; nothing written");
        // A measurement or a calibration is never replaced, not even with --force.
        std::error_code ec;
        if (fs::is_regular_file(fs::symlink_status(platform::fsPath(outFile), ec))) {
            const ContentKind kind = kindOf(outFile);
            if (kind == ContentKind::Cal || kind == ContentKind::Dat)
                throw Refusal({}, "its output " + outFile + " would replace " +
                                      (kind == ContentKind::Cal ? "a calibration" : "a DAT file") +
                                      "; nothing written");
        }
        checkOutputs({outFile}, force);
        Lect_RAW(raw, rawFile, header, params, *data);
        for (int i = 1; i <= header.Size; ++i)
            (*values)[i] = Real48::fromValue((*data)[i]);
        // The grid of the RAW conversion: entry i at Start + (i - 1) Step, in double precision.
        const double start = raw.RangeInfo.Start;
        const double step = raw.RangeInfo.Step;
        const double end = (header.Size - 1) * step + start;
        lit.Ecr_MAUD(outFile, header, params, *values, start, step, end, placement(force));
    });
}

// rawdat-convert calibrate ...: NAME.CAL from each DAT file of a measured standard.
int calibrateCommand(const std::vector<std::string>& args)
{
    std::string standard, linesFile, outputDir;
    std::optional<double> wavelength;
    bool force = false, json = false, options = true;
    std::vector<std::string> files;
    auto usage = [](const std::string& why) {
        std::fprintf(stderr, "rawdat-convert: calibrate: %s\n%s", escaped(why).c_str(), kUsage);
        return 2;
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool takesValue = a == "--standard" || a == "--lines" || a == "--wavelength" || a == "-o" ||
                                a == "--output-dir";
        if (options && takesValue && i + 1 >= args.size())
            return usage(a + " needs a value");
        if (!options)
            files.push_back(a);
        else if (a == "--")
            options = false;
        else if (a == "-f" || a == "--force")
            force = true;
        else if (a == "--json")
            json = true;
        else if (a == "--standard")
            standard = args[++i];
        else if (a == "--lines")
            linesFile = args[++i];
        else if (a == "-o" || a == "--output-dir")
            outputDir = args[++i];
        else if (a == "--wavelength") {
            const std::string& v = args[++i];
            double w = 0.0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), w);
            if (ec != std::errc() || end != v.data() + v.size() || !(w > 0.0 && w < 10.0))
                return usage("--wavelength " + v + ": not a wavelength in angstroms");
            wavelength = w;
        } else if (a.size() > 1 && a[0] == '-')
            return usage("unknown option " + a);
        else
            files.push_back(a);
    }
    if (standard.empty() == linesFile.empty())
        return usage("give one of --standard and --lines");
    if (!standard.empty() && !calib::isStandardName(standard))
        return usage("--standard " + standard + ": lab6, si or ceo2");
    if (files.empty())
        return usage("no DAT file");
    std::error_code ec;
    if (!outputDir.empty() && !fs::is_directory(outputDir, ec))
        return usage("-o/--output-dir " + outputDir + ": no such folder");

    std::vector<calib::Reflection> listed;
    if (!linesFile.empty()) {
        const int status = runSubcommand(linesFile, false, [&] {
            const Bytes text = fsio::readFile(absolutePath(linesFile), {1u << 20, "d-spacing list"});
            listed = calib::readLines(std::string(text.begin(), text.end()), {});
        });
        if (status)
            return status;
    }
    catchStopSignals();
    int status = 0;
    std::vector<std::string> planned;
    for (const std::string& file : files) {
        const int one = runSubcommand(file, false, [&] {
            if (file.empty())
                throw Refusal({}, "empty file name");
            const std::string path = absolutePath(file);
            std::string target = replaceExtension(file, "CAL");
            if (!outputDir.empty())
                target = (fs::path(outputDir) / fs::path(target).filename()).string();
            std::vector<std::string> inputs = files;
            inputs.push_back(linesFile);
            for (const std::string& input : inputs)
                if (!input.empty() && fsio::sameFile(target, absolutePath(input)))
                    throw Refusal({}, "its output " + target + " would replace an input; nothing written");
            const std::string where = absolutePath(target);
            if (std::find(planned.begin(), planned.end(), where) != planned.end())
                throw Refusal({}, "its output " + target + " is written for an earlier file; nothing written");
            planned.push_back(where);
            if (kindOf(path) != ContentKind::Dat)
                throw Refusal({}, "not a DAT file");
            checkOutputs({target}, force);
            TLitdat lit;
            TScanHeader header;
            TScanParams params;
            auto data = std::make_unique<TData>();
            if (!lit.Lect_Dat(path, header, params, *data))
                throw Refusal({}, "file not opened");
            const double lambda = wavelength ? *wavelength : header.Wavelength;
            if (!(lambda > 0.0 && lambda < 10.0))
                throw Refusal({}, "the header gives no wavelength; give --wavelength");
            calib::Counts counts;
            for (int i = 1; i <= header.Size; ++i)
                counts.push_back((*data)[i]);
            const auto lines = standard.empty() ? listed : calib::standardReflections(standard, lambda / 2.0);
            const calib::Result r = calib::calibrate(counts, lines, lambda);
            for (const std::string& line :
                 cli::calibrationReport(escaped(file), standard.empty() ? escaped(linesFile) : calib::standardTitle(standard), r, json))
                std::printf("%s\n", line.c_str());
            if (!r.refusal.empty())
                throw Refusal({}, r.refusal);
            calib::writeCal(target, r.cal, placement(force));
            std::fprintf(stderr, "%s: wrote %s (%d knots)\n", escaped(file).c_str(), escaped(target).c_str(),
                         r.cal.KnotCount);
        });
        status = std::max(status, one);
        if (stopSignal())
            break;
    }
    return status;
}

// The checks of the options that name files: an output folder that exists, a calibration file
// that reads as one. The message, or empty when both are usable.
std::string checkFileOptions(cli::Options& o, ConversionOptions& conv)
{
    std::error_code ec;
    if (!o.outputDir.empty()) {
        if (!fs::is_directory(platform::fsPath(o.outputDir), ec))
            return "-o/--output-dir " + escaped(o.outputDir) + ": no such folder";
        conv.outputDir = absolutePath(o.outputDir);
    }
    if (!o.calFile.empty()) {
        const std::string cal = absolutePath(o.calFile);
        TLitdat lit;
        TCalibration calibration;
        try {
            if (kindOf(cal) != ContentKind::Cal) // a FIFO, a device or a folder is refused here
                return "--cal " + escaped(o.calFile) + ": not a calibration (CAL) file";
            if (!lit.Lect_CAL(cal, calibration))
                return "--cal " + escaped(o.calFile) + ": cannot be read";
        } catch (const std::exception& e) {
            return "--cal " + userLine(o.calFile, cal, e.what());
        }
        conv.calibration = cal;
    }
    conv.also = o.also;
    conv.dryRun = o.dryRun;
    conv.existing = o.force ? ConversionOptions::Existing::Replace : ConversionOptions::Existing::Keep;
    conv.planned = true;
    return {};
}

// SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and closing the console): no further
// file is taken, no group commits any more, and the batch ends with 128 + the signal's number once
// the conversions in flight have ended. The handler only stores to two lock-free atomics. (A thread of its own waiting for the signals would make
// every allocation and every stdio call of a --jobs 1 batch take its lock.)
std::atomic<int> gSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onStopSignal(int sig)
{
    gSignal = sig;
    fsio::stopCommits();
}

int stopSignal()
{
    return gSignal;
}

void catchStopSignals()
{
    // A closed console ends the process once its handler returns: the temporaries go first.
    platform::catchStopSignals(onStopSignal, fsio::removeTemporaries);
}

// The first write to standard output or standard error that failed (a closed pipe, a full disk):
// the batch then takes no further file, and the run ends with status 1 at least.
struct StreamFault {
    std::FILE* stream = nullptr;
    int error = 0;
    bool told = false;

    // Checks `f` after a write (flushing it when `flush`); true while nothing has failed.
    bool check(std::FILE* f, bool flush = false)
    {
        errno = 0;
        if (((flush && std::fflush(f) != 0) || std::ferror(f)) && !stream) {
            stream = f;
            error = errno ? errno : EIO;
        }
        return !stream;
    }
    const char* name() const { return stream == stdout ? "standard output" : "standard error"; }
    // Says on standard error, once, that standard output could not be written.
    void tell()
    {
        if (stream == stdout && !told)
            std::fprintf(stderr, "rawdat-convert: cannot write to standard output (%s)\n", fsio::errorText(error));
        told = true;
    }
};

// `status` once everything printed is written out, or 1 (when `status` is 0) when it could not be.
int exitStatus(int status, StreamFault fault = {})
{
    fault.check(stdout, true);
    fault.check(stderr);
    if (!fault.stream)
        return status;
    fault.tell();
    return status ? status : 1;
}

} // namespace

namespace {

// The arguments in UTF-8 as argv, `*` and `?` expanded where the shell leaves them (Windows).
class CommandLine {
public:
    CommandLine(int argc, char** argv)
    {
        args_ = platform::arguments(argc, argv);
        if (platform::expandsWildcards())
            args_ = cli::expandWildcards(args_);
        for (std::string& a : args_)
            argv_.push_back(a.data());
        argv_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(args_.size()); }
    char** argv() { return argv_.data(); }

private:
    std::vector<std::string> args_;
    std::vector<char*> argv_;
};

int run(int argc, char** argv)
{
    // A descriptor 0, 1 or 2 left closed would be taken by the first file opened, and the lines
    // printed would go into it.
    if (!fsio::openStandardStreams())
        return 2;
    // A reader that goes away, or a file-size limit, makes writes fail (seen and answered)
    // instead of a kill in the middle of a batch.
    platform::ignoreWriteSignals();
    const cli::Parsed parsed = cli::parseOptions(argc, argv);
    switch (parsed.action) {
    case cli::Action::Help: std::fputs(kUsage, stdout); return exitStatus(0);
    case cli::Action::Version: std::printf("rawdat-convert %s\n", RAWDAT_VERSION); return exitStatus(0);
    case cli::Action::UsageError:
        std::fprintf(stderr, "%s\nUsage: rawdat-convert [OPTION]... FILE...  (see --help)\n",
                     escaped(parsed.error).c_str());
        return 2;
    case cli::Action::Subcommand: {
        // Its files, and -f/--force for those that write (anywhere before "--").
        const std::string& name = parsed.subcommand;
        if (name == "calibrate") {
            std::vector<std::string> args{name};
            if (parsed.options.force)
                args.emplace_back("--force");
            args.insert(args.end(), parsed.operands.begin(), parsed.operands.end());
            return exitStatus(calibrateCommand(args));
        }
        const bool writes = name != "info";
        bool force = parsed.options.force;
        const bool quietly = parsed.options.quiet;
        bool json = false;
        std::vector<std::string> files;
        bool options = true;
        for (const std::string& a : parsed.operands) {
            if (options && a == "--")
                options = false;
            else if (options && writes && (a == "-f" || a == "--force"))
                force = true;
            else if (options && !writes && a == "--json")
                json = true;
            else
                files.push_back(a);
        }
        if (writes ? files.size() != 2u : files.empty()) {
            std::fprintf(stderr, "rawdat-convert: %s takes %s\n%s", name.c_str(),
                         !writes ? "[--json] FILE..." : name == "f1b" ? "[-f] PARAMFILE F1BFILE" : "[-f] RAWFILE OUTFILE",
                         kUsage);
            return 2;
        }
        if (!writes) {
            int status = 0;
            for (std::size_t i = 0; i < files.size(); ++i) {
                if (json) {
                    const nlohmann::ordered_json j = fileInfo(files[i]);
                    std::printf("%s\n", infoLine(j).c_str());
                    if (j.contains("error")) {
                        std::fprintf(stderr, "%s\n", userLine(files[i], {}, j["error"].get<std::string>()).c_str());
                        status = 1;
                    }
                    continue;
                }
                if (i > 0)
                    std::printf("\n");
                status = std::max(status, info(files[i], files.size() > 1));
            }
            return exitStatus(status);
        }
        catchStopSignals();
        if (name == "f1b")
            return exitStatus(f1b(files[0], files[1], force, quietly));
        return exitStatus(exportSteps(files[0], files[1], force, quietly));
    }
    case cli::Action::Convert: break;
    }
    cli::Options opts = parsed.options;
    ConversionOptions conversion;
    if (const std::string bad = checkFileOptions(opts, conversion); !bad.empty()) {
        std::fprintf(stderr, "rawdat-convert: %s\n", bad.c_str());
        return 2;
    }
    const bool force = opts.force;
    const bool quiet = opts.quiet;
    const int jobs = opts.jobs;
    const std::vector<std::string>& files = opts.files;

    catchStopSignals();
    keepFreedMemoryForTheNextFile();
    std::vector<BatchItem> items(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        items[i].given = files[i];
    planBatch(items, force, conversion, opts.outputDir);

    const bool progress = !quiet && platform::stderrIsTerminal();
    // A dry run's lines are its report, on standard output.
    std::FILE* const lineStream = opts.dryRun ? stdout : stderr;
    // -q keeps the failures and a dry run's report, not the notices.
    auto printLines = [&](const BatchItem& it) {
        for (std::size_t m = 0; m < it.messages.size(); ++m)
            if (!(quiet && !opts.dryRun && m < it.notice.size() && it.notice[m]))
                std::fprintf(lineStream, "%s\n", userLine(it.given, it.path, it.messages[m]).c_str());
    };
    std::mutex mutex;
    std::atomic<std::size_t> next{0};
    std::size_t done = 0, printed = 0;
    StreamFault fault;                      // under the mutex
    std::atomic<bool> streamFailed{false};
    // Prints the lines of the files finished, in input order, up to the first one still running.
    // A report on standard output is flushed file by file, so that a reader gone is seen soon.
    auto printFinished = [&] {
        if (progress)
            std::fputs("\r\033[K", stderr);
        for (; printed < items.size() && items[printed].finished; ++printed)
            printLines(items[printed]);
        if (!fault.check(lineStream, lineStream == stdout) || !fault.check(stderr))
            streamFailed = true;
    };
    auto worker = [&] {
        for (std::size_t i; !gSignal && !streamFailed && (i = next++) < items.size();) {
            BatchItem& it = items[i];
            if (it.state == BatchItem::State::Run) {
                try {
                    convertBatchItem(it, force, conversion);
                } catch (const std::exception& e) { // out of memory: this file fails, not the batch
                    it.fail(e.what());
                }
            }
            std::lock_guard lock(mutex);
            it.finished = true;
            ++done;
            printFinished();
            if (progress)
                std::fprintf(stderr, "[%zu/%zu] %s", done, items.size(), escaped(it.given).c_str());
        }
    };
    const int n = std::min<int>(jobs, static_cast<int>(items.size()));
    std::vector<std::thread> threads;
    for (int t = 1; t < n; ++t) {
        try {
            threads.emplace_back(worker);
        } catch (const std::system_error&) { // no more threads: the batch runs on those it has
            break;
        }
    }
    worker();
    for (auto& t : threads)
        t.join();
    const int sig = gSignal;
    if (sig)
        fsio::removeTemporaries();
    printFinished();
    for (; printed < items.size(); ++printed) // stopped: the files never started say nothing
        if (items[printed].finished)
            printLines(items[printed]);
    if (progress)
        std::fputs("\r\033[K", stderr);
    fault.check(lineStream, true);
    fault.tell();

    std::size_t converted = 0, failed = 0, skipped = 0, notRun = 0;
    for (const BatchItem& it : items) {
        converted += it.state == BatchItem::State::Converted;
        failed += it.state == BatchItem::State::Failed;
        skipped += it.state == BatchItem::State::Skipped;
        notRun += it.state == BatchItem::State::Run || it.state == BatchItem::State::NotRun;
    }
    if (!quiet) {
        std::string summary = std::to_string(items.size()) + (items.size() == 1 ? " file: " : " files: ") +
                              std::to_string(converted) + (opts.dryRun ? " to convert, " : " converted, ");
        if (skipped)
            summary += std::to_string(skipped) + " skipped (output exists), ";
        summary += std::to_string(failed) + " failed";
        if (sig)
            summary += ", " + std::to_string(notRun) + " not converted (interrupted by " +
                       platform::signalName(sig) + ")";
        else if (fault.stream && notRun)
            summary += ", " + std::to_string(notRun) + " not converted (" + fault.name() + " could not be written)";
        if (opts.dryRun)
            summary += "; dry run, nothing written";
        std::fprintf(stderr, "%s\n", summary.c_str());
    }
    if (sig)
        return exitStatus(128 + sig, fault);
    return exitStatus(failed ? 1 : 0, fault);
}

} // namespace

// No program ends on an uncaught exception: whatever escapes is "rawdat-convert: FILE: message",
// exit status 1.
int main(int argc, char** argv)
{
    try {
        CommandLine line(argc, argv);
        return run(line.argc(), line.argv());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rawdat-convert: %s\n", escaped(fileFirstMessage(e)).c_str());
    } catch (...) {
        std::fprintf(stderr, "rawdat-convert: unexpected error\n");
    }
    return 1;
}
