// rawdat-convert: the command-line front end of the two conversions, for batches.
//
//   rawdat-convert [OPTION]... FILE...
//   rawdat-convert info FILE
//
// Each FILE is converted by its content, with a fresh state, exactly as the window would convert
// it: a DAT file gives NAME.RAW and NAME.2CL beside it, a RAW file NAME.TXT and NAME.2CL.
#include "cli/options.h"
#include "convert/headless_ui.h"
#include "ulit_dat/describe.h"
#include "ulit_dat/f1b.h"
#include "ulit_dat/fsio.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <unordered_map>
#include <utility>
#include <mutex>
#include <optional>
#include <signal.h>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace fs = std::filesystem;
using namespace rawdat;

namespace {

constexpr const char* kUsage =
    "Usage: rawdat-convert [OPTION]... FILE...\n"
    "       rawdat-convert info FILE\n"
    "       rawdat-convert f1b [-f] PARAMFILE F1BFILE\n"
    "       rawdat-convert export-steps [-f] RAWFILE OUTFILE\n"
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
    "                        one or more of xy, xye, csv separated by commas: NAME.xy, ...\n"
    "  -q, --quiet           no progress line and no summary.\n"
    "  -h, --help            show this text.\n"
    "  -V, --version         print the version.\n"
    "  --                    ends the options: every argument after it is a FILE.\n"
    "A FILE named '-' is refused: outputs are always files beside their input (or in DIR).\n"
    "\n"
    "  info FILE   print what the window's memo shows for FILE (ten lines for a DAT file,\n"
    "              three for a RAW file), or a short summary of a CAL, FDT or DTB file; UTF-8.\n"
    "  f1b [-f] PARAMFILE F1BFILE\n"
    "              convert an F1B multi-scan file and its scan parameter file into NAME.fdt\n"
    "              and the straight-line calibration NAME.cal, beside the F1B file (NAME is\n"
    "              F1BFILE without its extension); both are written or neither.\n"
    "  export-steps [-f] RAWFILE OUTFILE\n"
    "              write the pattern of a RAW file as a step-scan text file (lines end with CR).\n"
    "  Neither replaces an input, and export-steps never a DAT or CAL file. Without -f\n"
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

// In one pass: a line can name every output of a file.
void replaceAll(std::string& s, const std::string& from, const std::string& to)
{
    if (from.empty() || from == to)
        return;
    std::size_t at = s.find(from);
    if (at == std::string::npos)
        return;
    std::string out;
    std::size_t last = 0;
    for (; at != std::string::npos; at = s.find(from, last)) {
        out.append(s, last, at - last);
        out += to;
        last = at + from.size();
    }
    out.append(s, last);
    s = std::move(out);
}

// The line "FILE: message" about the input the user gave as `given` (its absolute form `path`,
// which the conversion's messages use): the input named once, as given, and the other files of
// its folder by the folder as given.
std::string userLine(const std::string& given, const std::string& path, std::string message)
{
    // The file named by the line, as the message may name it too: dropped there.
    for (const std::string* name : {&path, &given}) {
        if (name->empty())
            continue;
        if (message.rfind(*name + ": ", 0) == 0)
            message.erase(0, name->size() + 2);
        replaceAll(message, " (" + *name + ")", "");
        replaceAll(message, "(" + *name + ", ", "(");
    }
    if (!path.empty()) {
        if (fs::path(given).is_relative()) {
            std::string givenFolder = fs::path(given).parent_path().string();
            if (!givenFolder.empty())
                givenFolder += '/';
            replaceAll(message, fs::path(path).parent_path().string() + "/", givenFolder);
        }
    }
    return (given.empty() ? std::string("\"\"") : escaped(given)) + ": " + escaped(message);
}

std::string absolutePath(const std::string& given)
{
    std::error_code ec;
    const fs::path p = fs::absolute(given, ec);
    return ec ? given : p.string();
}

int info(const std::string& given)
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
int runSubcommand(const std::string& file, Work work)
{
    auto line = [&](const std::string& message) {
        std::fprintf(stderr, "%s\n", userLine(file, absolutePath(file), message).c_str());
    };
    int status = 0;
    try {
        work();
    } catch (const fsio::TargetExists& e) {
        line("kept existing " + e.target() + " (use --force to replace)");
    } catch (const fsio::Interrupted&) {
        const int sig = stopSignal();
        line(std::string("interrupted by ") + (sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "SIGHUP") +
             "; nothing written");
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
        if (force || !fs::is_regular_file(fs::symlink_status(o, ec)))
            fsio::checkReplaceable(o);
    if (!force && fs::exists(fs::symlink_status(outputs.back(), ec)))
        throw fsio::TargetExists(outputs.back());
}

fsio::OutputGroup::Placement placement(bool force)
{
    return force ? fsio::OutputGroup::Placement::Replace : fsio::OutputGroup::Placement::NoClobber;
}

// rawdat-convert f1b [-f] PARAMFILE F1BFILE: NAME.fdt and NAME.cal beside the F1B file.
int f1b(const std::string& paramFile, const std::string& f1bFile, bool force)
{
    TLitdat lit;
    TScanHeader header;
    TScanParams params;
    TCalibration cal;
    auto data = std::make_unique<TData>();
    return runSubcommand(f1bFile, [&] {
        if (paramFile.empty() || f1bFile.empty())
            throw Refusal({}, "empty file name");
        const F1bOutputs out = f1bOutputs(f1bFile);
        for (const std::string& o : {out.fdt, out.cal})
            if (fsio::sameFile(o, paramFile) || fsio::sameFile(o, f1bFile))
                throw Refusal({}, "its output " + o + " would replace an input; nothing written");
        checkOutputs({out.fdt, out.cal}, force);
        lit.lect_F1B(paramFile, f1bFile, params, header, *data, cal, placement(force));
        std::fprintf(stderr, "%s: wrote %s (%d scans of %d channels) and %s\n", escaped(f1bFile).c_str(),
                     escaped(out.fdt).c_str(), header.NbScans, header.NbChannels, escaped(out.cal).c_str());
    });
}

// rawdat-convert export-steps [-f] RAWFILE OUTFILE: the step-scan text export of a RAW file's
// pattern.
int exportSteps(const std::string& rawFile, const std::string& outFile, bool force)
{
    TLitdat lit;
    RawModule raw;
    TScanHeader header;
    TScanParams params;
    auto data = std::make_unique<TData>();
    auto values = std::make_unique<TReal48Array>();
    return runSubcommand(rawFile, [&] {
        if (rawFile.empty() || outFile.empty())
            throw Refusal({}, "empty file name");
        if (fsio::sameFile(rawFile, outFile))
            throw Refusal({}, "its output " + outFile + " would replace an input; nothing written");
        // A measurement or a calibration is never replaced, not even with --force.
        std::error_code ec;
        if (fs::is_regular_file(fs::symlink_status(outFile, ec))) {
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

// ---- a batch ----

// One FILE of the batch: what the plan decided, then what its conversion did.
struct Item {
    enum class State { Run, Failed, Skipped, Converted, NotRun };
    std::string given;
    std::string path; // absolute
    FileKind kind = FileKind::Dat;
    std::vector<PlannedOutput> outputs;
    std::string calibration; // a DAT file's calibration file
    State state = State::Run;
    std::vector<std::string> lines; // for standard error, printed in input order
    bool finished = false;          // its lines may be printed
    std::optional<Bytes> input;     // the whole file, when the plan has read it whole

    void fail(const std::string& message)
    {
        state = State::Failed;
        lines.push_back(userLine(given, path, message));
        finished = true;
    }
};

std::string fileName(const std::string& path)
{
    return fs::path(path).filename().string();
}

// A file of the batch, compared by its directory entry (the identity of its folder, symbolic links
// followed, and its name, without letter case where the folder ignores it) and, when it exists, by
// its own identity (device and inode), both taken once.
struct FileKey {
    std::string entry;
    std::optional<fsio::FileId> id;
};

// The keys of the files of a batch; each folder is looked at once.
class FileKeys {
public:
    FileKey of(const std::string& path, std::optional<fsio::FileId> id)
    {
        const fs::path p = fs::path(path).lexically_normal();
        const std::string folder = p.parent_path().string();
        auto it = folders_.find(folder);
        if (it == folders_.end())
            it = folders_.emplace(folder, fsio::folderInfo(folder)).first;
        const auto& info = it->second;
        if (!info) // no such folder: nothing can be written there, the path alone tells
            return {p.string(), id};
        std::string name = p.filename().string();
        if (info->ignoresCase)
            for (char& c : name)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c + 32);
        return {std::to_string(info->id.device) + ':' + std::to_string(info->id.inode) + '/' + name, id};
    }
    FileKey of(const std::string& path) { return of(path, fsio::fileId(path)); }

private:
    std::unordered_map<std::string, std::optional<fsio::FolderInfo>> folders_;
};

// Files of the batch, each with the item it belongs to (the first when several).
class FileIndex {
public:
    void add(const FileKey& key, std::size_t item)
    {
        entries_.emplace(key.entry, item);
        if (key.id)
            ids_.emplace(*key.id, item);
    }
    std::optional<std::size_t> find(const FileKey& key) const
    {
        if (const auto it = entries_.find(key.entry); it != entries_.end())
            return it->second;
        if (key.id)
            if (const auto it = ids_.find(*key.id); it != ids_.end())
                return it->second;
        return std::nullopt;
    }

private:
    std::unordered_map<std::string, std::size_t> entries_;
    std::map<fsio::FileId, std::size_t> ids_;
};

// Decides, before anything is written, what each file of the batch does: what it is, its
// outputs, and the refusals (an output that is an input or a calibration, an input that another
// input writes, two inputs that write one file, an output that exists and is not a regular file,
// a folder this process cannot write in) and, without --force, the files skipped because an output
// exists. `outputDir` is the -o folder as the user gave it.
void plan(std::vector<Item>& items, bool force, const ConversionOptions& options, const std::string& outputDir)
{
    constexpr std::size_t kKeepWholeUpTo = 64 << 10;
    constexpr std::uint64_t kKeptBudget = 64 << 20;
    std::uint64_t kept = 0;
    FileKeys keys;
    FileIndex inputs, calibrations, outputsOf;
    std::map<std::string, std::pair<std::string, FileKey>> calibrationOf; // folder/base -> file found
    std::vector<FileKey> inputKeys(items.size());
    std::vector<std::vector<FileKey>> outputKeys(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (fsio::commitsStopped())
            return; // a stop signal: no file is started
        Item& it = items[i];
        if (it.given.empty()) {
            it.path.clear();
            it.fail("empty file name");
            continue;
        }
        it.path = absolutePath(it.given);
        std::optional<Bytes> head;
        std::uint64_t size = 0;
        std::optional<fsio::FileId> id;
        try {
            // A small file is read whole, once, for the plan and its conversion, as long as the
            // files so kept stay within a budget.
            head = fsio::tryReadHead(it.path, std::max(kHeadSize, kRangeCountHead), &id, &size,
                                     kept < kKeptBudget ? kKeepWholeUpTo : 0);
            if (head && head->size() == size && size > kHeadSize) {
                kept += size;
                it.input = head;
            }
        } catch (const std::exception& e) {
            it.fail(e.what()); // not a regular file
            continue;
        }
        inputKeys[i] = keys.of(it.path, id);
        inputs.add(inputKeys[i], i);
        const ContentKind kind = kindOf(it.path, head);
        if (kind != ContentKind::Dat && kind != ContentKind::Raw) {
            it.fail("not a DAT or RAW file (neither its first bytes nor its extension say which)");
            continue;
        }
        it.kind = kind == ContentKind::Dat ? FileKind::Dat : FileKind::Raw;
        // A RAW file's outputs depend on its count of ranges, read from the head already here.
        try {
            it.outputs = it.kind == FileKind::Raw && head
                             ? plannedOutputs(it.path, options, RawRangeCount(it.path, *head, size))
                             : plannedOutputs(it.kind, it.path, options);
        } catch (const Refusal& e) {
            it.fail(e.what()); // too many ranges
            continue;
        }
        if (it.kind == FileKind::Dat && head) {
            const std::string calName = TLitdat::datCalName(*head);
            const std::string key = fs::path(it.path).parent_path().string() + '/' + calibrationBase(calName);
            auto found = calibrationOf.find(key);
            if (found == calibrationOf.end()) {
                const std::string cal = calibrationOfDat(it.path, calName, options);
                found = calibrationOf.emplace(key, std::pair{cal, keys.of(cal)}).first;
            }
            it.calibration = found->second.first;
            calibrations.add(found->second.second, i);
        }
        for (const PlannedOutput& o : it.outputs) {
            outputKeys[i].push_back(keys.of(o.path));
            outputsOf.add(outputKeys[i].back(), i);
        }
    }

    // The files that pass these checks claim their outputs; two that claim one file are both
    // refused, whatever the order of the command line.
    std::vector<std::size_t> running;
    std::map<std::string, bool> writable;
    for (std::size_t i = 0; i < items.size(); ++i) {
        Item& it = items[i];
        if (it.state != Item::State::Run)
            continue;
        const std::vector<FileKey>& outs = outputKeys[i];
        for (std::size_t o = 0; o < outs.size() && it.state == Item::State::Run; ++o) {
            const std::string name = fileName(it.outputs[o].path);
            if (inputs.find(outs[o]))
                it.fail("its output " + name + " would replace an input; nothing written");
            else if (const auto k = calibrations.find(outs[o]))
                it.fail("its output " + name + " would replace the calibration " +
                        fileName(items[*k].calibration) + "; nothing written");
        }
        if (it.state != Item::State::Run)
            continue;
        if (const auto k = outputsOf.find(inputKeys[i]); k && *k != i) {
            it.fail("it is an output of " + items[*k].given + " in this batch; nothing written");
            continue;
        }
        running.push_back(i);
    }
    std::unordered_map<std::string, std::vector<std::size_t>> claims; // entry -> files writing it
    for (const std::size_t i : running)
        for (const FileKey& k : outputKeys[i]) {
            auto& who = claims[k.entry];
            if (who.empty() || who.back() != i)
                who.push_back(i);
        }
    for (const std::size_t i : running) {
        Item& it = items[i];
        for (std::size_t o = 0; o < outputKeys[i].size() && it.state == Item::State::Run; ++o) {
            const auto& who = claims[outputKeys[i][o].entry];
            if (who.size() > 1)
                it.fail(fileName(it.outputs[o].path) + " is also written by " +
                        items[who[0] == i ? who[1] : who[0]].given + "; nothing written");
        }
        if (it.state != Item::State::Run)
            continue;
        // Neither --force nor a rerun writes over a folder, a link or a device.
        for (const PlannedOutput& o : it.outputs)
            if (const auto what = fsio::nonRegularKindOf(o.path)) {
                it.fail(fileName(o.path) + " is " + *what + "; nothing written");
                break;
            }
        if (it.state != Item::State::Run)
            continue;
        // Without --force a file is done once its first output is there: that one is put in
        // place last, so a run killed meanwhile never leaves it without the others. The others
        // are checked as they are put in place.
        std::error_code ec;
        if (!force && fs::exists(fs::symlink_status(it.outputs[0].path, ec))) {
            it.state = Item::State::Skipped;
            it.lines.push_back(userLine(it.given, it.path,
                                        "kept existing " + fileName(it.outputs[0].path) + " (use --force to replace)"));
            it.finished = true;
            continue;
        }
        // The folders written in, each asked once.
        for (const PlannedOutput& o : it.outputs) {
            const std::string folder = fs::path(o.path).parent_path().string();
            auto [w, fresh] = writable.try_emplace(folder, true);
            if (fresh)
                w->second = fsio::canWriteIn(folder);
            if (!w->second) {
                const std::string shown = !outputDir.empty() ? outputDir : fs::path(it.given).parent_path().string();
                it.fail("cannot write in " + (shown.empty() ? std::string(".") : shown));
                break;
            }
        }
    }
}

// Converts one planned file with a fresh state, as the window would.
void convertOne(Item& it, bool force, const ConversionOptions& options)
{
    TRawDatState state;
    TLitdat lit;
    HeadlessUi ui(it.path, force);
    TConversion conv(state, lit, ui, options);
    std::optional<fsio::Preloaded> read;
    if (it.input)
        read.emplace(it.path, std::exchange(it.input, std::nullopt).value());
    bool ok = it.kind == FileKind::Dat ? conv.runDat() : conv.runRaw();
    if (ok && it.kind == FileKind::Dat && !ui.memo.empty() && ui.memo.back() == "file not opened") {
        ok = false;
        ui.error = fsio::whyNotReadable(it.path);
    }
    if (!ok && ui.error == fsio::Interrupted().what()) {
        it.state = Item::State::NotRun;
        return;
    }
    for (const auto& n : ui.notices) // which files hold the ranges of a RAW file
        it.lines.push_back(userLine(it.given, it.path, n));
    // An output that appeared after the plan, without --force: kept.
    for (const auto& k : ui.declined)
        it.lines.push_back(
            userLine(it.given, it.path, "kept existing " + fileName(k) + " (use --force to replace)"));
    if (!ok) {
        it.fail(ui.error);
    } else {
        it.state = ui.declined.empty() ? Item::State::Converted : Item::State::Skipped;
        if (options.dryRun && it.state == Item::State::Converted) {
            std::string names;
            for (const PlannedOutput& o : it.outputs)
                names += (names.empty() ? "" : ", ") + o.path;
            it.lines.push_back(userLine(it.given, it.path, "would write " + names));
        }
    }
}

// The checks of the options that name files: an output folder that exists, a calibration file
// that reads as one. The message, or empty when both are usable.
std::string checkFileOptions(cli::Options& o, ConversionOptions& conv)
{
    std::error_code ec;
    if (!o.outputDir.empty()) {
        if (!fs::is_directory(o.outputDir, ec))
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

// SIGINT, SIGTERM and SIGHUP: no further file is taken, no group commits any more, and the
// batch ends with 128 + the signal's number once the conversions in flight have ended. The handler
// only stores to two lock-free atomics. (A thread of its own waiting for the signals would make
// every allocation and every stdio call of a --jobs 1 batch take its lock.)
std::atomic<int> gSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal(int sig)
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
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigset_t caught;
    sigemptyset(&caught);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal that whoever started the converter ignores (nohup, a background job) stays
        // ignored.
        struct sigaction was {};
        if (::sigaction(sig, nullptr, &was) == 0 && was.sa_handler == SIG_IGN)
            continue;
        ::sigaction(sig, &sa, nullptr);
        sigaddset(&caught, sig);
    }
    // Caught even when the starting process blocked them: one already pending arrives now.
    ::pthread_sigmask(SIG_UNBLOCK, &caught, nullptr);
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

int run(int argc, char** argv)
{
    // A descriptor 0, 1 or 2 left closed would be taken by the first file opened, and the lines
    // printed would go into it.
    if (!fsio::openStandardStreams())
        return 2;
    // A reader that goes away makes writes fail (EPIPE), seen and answered, instead of a kill in
    // the middle of a batch.
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write fails with EFBIG ("Disque plein") instead of a kill.
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    // Subcommands: NAME, -f/--force for those that write (anywhere before "--"), their files.
    if (!args.empty() && (args[0] == "info" || args[0] == "f1b" || args[0] == "export-steps")) {
        const bool writes = args[0] != "info";
        bool force = false;
        std::vector<std::string> files;
        bool options = writes;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (options && args[i] == "--")
                options = false;
            else if (options && (args[i] == "-f" || args[i] == "--force"))
                force = true;
            else
                files.push_back(args[i]);
        }
        if (files.size() != (writes ? 2u : 1u)) {
            std::fprintf(stderr, "rawdat-convert: %s takes %s\n%s", args[0].c_str(),
                         !writes ? "one FILE" : args[0] == "f1b" ? "[-f] PARAMFILE F1BFILE" : "[-f] RAWFILE OUTFILE",
                         kUsage);
            return 2;
        }
        if (!writes)
            return exitStatus(info(files[0]));
        catchStopSignals();
        if (args[0] == "f1b")
            return exitStatus(f1b(files[0], files[1], force));
        return exitStatus(exportSteps(files[0], files[1], force));
    }

    const cli::Parsed parsed = cli::parseOptions(argc, argv);
    switch (parsed.action) {
    case cli::Action::Help: std::fputs(kUsage, stdout); return exitStatus(0);
    case cli::Action::Version: std::printf("rawdat-convert %s\n", RAWDAT_VERSION); return exitStatus(0);
    case cli::Action::UsageError:
        std::fprintf(stderr, "%s\nUsage: rawdat-convert [OPTION]... FILE...  (see --help)\n",
                     escaped(parsed.error).c_str());
        return 2;
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
    std::vector<Item> items(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        items[i].given = files[i];
    plan(items, force, conversion, opts.outputDir);

    const bool progress = !quiet && ::isatty(2);
    // A dry run's lines are its report, on standard output.
    std::FILE* const lineStream = opts.dryRun ? stdout : stderr;
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
            for (const auto& l : items[printed].lines)
                std::fprintf(lineStream, "%s\n", l.c_str());
        if (!fault.check(lineStream, lineStream == stdout) || !fault.check(stderr))
            streamFailed = true;
    };
    auto worker = [&] {
        for (std::size_t i; !gSignal && !streamFailed && (i = next++) < items.size();) {
            Item& it = items[i];
            if (it.state == Item::State::Run) {
                try {
                    convertOne(it, force, conversion);
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
            for (const auto& l : items[printed].lines)
                std::fprintf(lineStream, "%s\n", l.c_str());
    if (progress)
        std::fputs("\r\033[K", stderr);
    fault.check(lineStream, true);
    fault.tell();

    std::size_t converted = 0, failed = 0, skipped = 0, notRun = 0;
    for (const Item& it : items) {
        converted += it.state == Item::State::Converted;
        failed += it.state == Item::State::Failed;
        skipped += it.state == Item::State::Skipped;
        notRun += it.state == Item::State::Run || it.state == Item::State::NotRun;
    }
    if (!quiet) {
        std::string summary = std::to_string(items.size()) + (items.size() == 1 ? " file: " : " files: ") +
                              std::to_string(converted) + (opts.dryRun ? " to convert, " : " converted, ");
        if (skipped)
            summary += std::to_string(skipped) + " skipped (output exists), ";
        summary += std::to_string(failed) + " failed";
        if (sig)
            summary += ", " + std::to_string(notRun) + " not converted (interrupted by " +
                       (sig == SIGINT    ? "SIGINT"
                        : sig == SIGTERM ? "SIGTERM"
                                         : "SIGHUP") +
                       ")";
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
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rawdat-convert: %s\n", escaped(fileFirstMessage(e)).c_str());
    } catch (...) {
        std::fprintf(stderr, "rawdat-convert: unexpected error\n");
    }
    return 1;
}
