// rawdat-convert: the command-line front end of the two conversions, for batches.
//
//   rawdat-convert [--force] [--jobs N] [--quiet] FILE...
//   rawdat-convert info FILE
//
// Each FILE is converted by its content, with a fresh state, exactly as the window would convert
// it: a DAT file gives NAME.RAW and NAME.2CL beside it, a RAW file NAME.TXT and NAME.2CL.
#include "convert/headless_ui.h"
#include "ulit_dat/describe.h"
#include "ulit_dat/fsio.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
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
    "Usage: rawdat-convert [--force] [--jobs N] [--quiet] FILE...\n"
    "       rawdat-convert info FILE\n"
    "       rawdat-convert f1b PARAMFILE F1BFILE\n"
    "       rawdat-convert export-steps RAWFILE OUTFILE\n"
    "\n"
    "Converts powder-diffraction patterns as the rawdat window does, one file after another.\n"
    "Each FILE is recognised by its content:\n"
    "  a detector DAT file  gives NAME.RAW (RAW2) and NAME.2CL beside it; its calibration\n"
    "                       file, named in its header, must lie in the same folder;\n"
    "  a RAW file           gives NAME.TXT and NAME.2CL beside it.\n"
    "\n"
    "Options:\n"
    "  --force     replace existing output files. Without it a DAT file whose RAW file exists\n"
    "              is skipped whole, and a RAW file whose TXT file exists keeps the TXT file\n"
    "              (its two-column file is still written), as answering \"no\" in the window.\n"
    "  --jobs N    convert N files at a time (default 1); the output is the same.\n"
    "  --quiet     no progress line and no summary.\n"
    "  --help      show this text.\n"
    "\n"
    "  info FILE   print what the window's memo shows for FILE (ten lines for a DAT file,\n"
    "              three for a RAW file), or a short summary of a CAL, FDT or DTB file; UTF-8.\n"
    "  f1b PARAMFILE F1BFILE\n"
    "              convert an F1B multi-scan file and its scan parameter file into NAME.fdt\n"
    "              and the straight-line calibration NAME.cal, beside the F1B file.\n"
    "  export-steps RAWFILE OUTFILE\n"
    "              write the pattern of a RAW file as a step-scan text file (lines end with CR).\n"
    "\n"
    "Exit status: 0 when no file failed, 1 when any file failed, 2 for a usage error.\n"
    "Each failure is one line on standard error: FILE: message.\n";

enum class Kind { Dat, Raw, Cal, Fdt, Dtb, Unknown };

// RAW files begin with "RAW"; DAT files with the bytes 0x4B 0x02, CAL files with 0x4B 0x64.
// Otherwise the extension decides.
Kind kindOf(const std::string& path)
{
    unsigned char head[4] = {};
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        const std::size_t n = std::fread(head, 1, 4, f);
        std::fclose(f);
        if (n >= 3 && std::memcmp(head, "RAW", 3) == 0)
            return Kind::Raw;
        if (n >= 2 && head[0] == 0x4B && head[1] == 0x02)
            return Kind::Dat;
        if (n >= 2 && head[0] == 0x4B && head[1] == 0x64)
            return Kind::Cal;
    }
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    static const std::pair<const char*, Kind> byExtension[] = {
        {".RAW", Kind::Raw}, {".DAT", Kind::Dat}, {".CAL", Kind::Cal}, {".FDT", Kind::Fdt}, {".DTB", Kind::Dtb}};
    for (const auto& [e, kind] : byExtension)
        if (ext == e)
            return kind;
    return Kind::Unknown;
}

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

std::string failureLine(const std::string& file, const std::string& message)
{
    if (message.rfind(file + ": ", 0) == 0)
        return message;
    return file + ": " + message;
}

int info(const std::string& given)
{
    const std::string path = fs::absolute(given).string();
    TRawDatState state;
    TLitdat lit;
    HeadlessUi ui(path, false);
    TConversion conv(state, lit, ui);
    std::vector<std::string> lines;
    try {
        switch (kindOf(path)) {
        case Kind::Dat:
            if (!conv.loadDat(path)) {
                std::fprintf(stderr, "%s: file not opened\n", given.c_str());
                return 1;
            }
            lines = ui.memo;
            break;
        case Kind::Raw:
            conv.loadRaw(path);
            lines = ui.memo;
            break;
        case Kind::Cal: lines = describeCal(path); break;
        case Kind::Fdt: lines = describeFdt(path); break;
        case Kind::Dtb: lines = describeDtb(path); break;
        case Kind::Unknown:
            std::fprintf(stderr, "%s: not a file rawdat knows (DAT, RAW, CAL, FDT or DTB)\n", given.c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", failureLine(path, e.what()).c_str());
        return 1;
    }
    for (const auto& line : lines)
        std::printf("%s\n", windows1252ToUtf8(line).c_str());
    return 0;
}

// Runs `work`; an error it raises becomes the line "FILE: message" on standard error.
template <class Work>
bool reported(const std::string& file, Work work)
{
    try {
        work();
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", failureLine(file, e.what()).c_str());
        return false;
    }
}

// rawdat-convert f1b PARAMFILE F1BFILE: NAME.fdt and NAME.cal beside the F1B file.
int f1b(const std::string& paramFile, const std::string& f1bFile)
{
    TLitdat lit;
    TScanHeader header;
    TScanParams params;
    TCalibration cal;
    auto data = std::make_unique<TData>();
    if (!reported(f1bFile, [&] { lit.lect_F1B(paramFile, f1bFile, params, header, *data, cal); }))
        return 1;
    std::fprintf(stderr, "%s: wrote %sfdt (%d scans of %d channels) and %scal\n", f1bFile.c_str(),
                 replaceExtension(f1bFile, "").c_str(), header.NbScans, header.NbChannels,
                 replaceExtension(f1bFile, "").c_str());
    return 0;
}

// rawdat-convert export-steps RAWFILE OUTFILE: the step-scan text export of a RAW file's pattern.
int exportSteps(const std::string& rawFile, const std::string& outFile)
{
    TLitdat lit;
    RawModule raw;
    TScanHeader header;
    TScanParams params;
    auto data = std::make_unique<TData>();
    auto values = std::make_unique<TReal48Array>();
    return reported(rawFile, [&] {
               Lect_RAW(raw, rawFile, header, params, *data);
               for (int i = 1; i <= header.Size; ++i)
                   (*values)[i] = Real48::fromValue((*data)[i]);
               // The grid of the RAW conversion: entry i at Start + (i - 1) Step, in double precision.
               const double start = raw.RangeInfo.Start;
               const double step = raw.RangeInfo.Step;
               const double end = (header.Size - 1) * step + start;
               lit.Ecr_MAUD(outFile, header, params, *values, start, step, end);
           })
               ? 0
               : 1;
}

struct Outcome {
    bool failed = false;
    bool skipped = false;           // a DAT file whose RAW file exists, without --force
    std::vector<std::string> lines; // for standard error
};

Outcome convertOne(const std::string& given, bool force)
{
    Outcome out;
    std::error_code ec;
    const std::string path = fs::absolute(given, ec).string();
    TRawDatState state;
    TLitdat lit;
    HeadlessUi ui(path, force);
    TConversion conv(state, lit, ui);
    bool ok = false;
    const Kind kind = kindOf(path);
    switch (kind) {
    case Kind::Dat:
        ok = conv.runDat();
        if (ok && !ui.memo.empty() && ui.memo.back() == "file not opened") {
            ok = false;
            ui.error = std::string(fs::exists(path, ec) ? "Accès au fichier refusé" : "Fichier introuvable");
        }
        break;
    case Kind::Raw: ok = conv.runRaw(); break;
    default: ui.error = "not a DAT or RAW file (neither its first bytes nor its extension say which)"; break;
    }
    for (const auto& k : ui.declined)
        out.lines.push_back(given + ": kept existing " + fs::path(k).filename().string());
    out.skipped = ok && kind == Kind::Dat && !ui.declined.empty();
    if (!ok) {
        out.failed = true;
        out.lines.push_back(failureLine(given, ui.error));
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    // Subcommands: NAME, the number of file arguments it takes, what it does.
    if (!args.empty() && (args[0] == "info" || args[0] == "f1b" || args[0] == "export-steps")) {
        const std::size_t want = args[0] == "info" ? 2 : 3;
        if (args.size() != want) {
            std::fprintf(stderr, "rawdat-convert: %s takes %s\n%s", args[0].c_str(),
                         args[0] == "info" ? "one FILE" : args[0] == "f1b" ? "PARAMFILE F1BFILE" : "RAWFILE OUTFILE",
                         kUsage);
            return 2;
        }
        if (args[0] == "info")
            return info(args[1]);
        if (args[0] == "f1b")
            return f1b(args[1], args[2]);
        return exportSteps(args[1], args[2]);
    }

    bool force = false;
    bool quiet = false;
    int jobs = 1;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            files.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--force") {
            force = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--jobs" || a.rfind("--jobs=", 0) == 0) {
            std::string v;
            if (a == "--jobs") {
                if (i + 1 >= args.size()) {
                    std::fprintf(stderr, "rawdat-convert: --jobs needs a number\n");
                    return 2;
                }
                v = args[++i];
            } else {
                v = a.substr(7);
            }
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || n < 1 || n > 256) {
                std::fprintf(stderr, "rawdat-convert: --jobs needs a number from 1 to 256, not '%s'\n", v.c_str());
                return 2;
            }
            jobs = static_cast<int>(n);
        } else {
            std::fprintf(stderr, "rawdat-convert: unknown option '%s' (see --help)\n", a.c_str());
            return 2;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "rawdat-convert: no FILE given\n%s", kUsage);
        return 2;
    }

    keepFreedMemoryForTheNextFile();
    const bool progress = !quiet && ::isatty(2);
    std::mutex mutex;
    std::atomic<std::size_t> next{0};
    std::size_t done = 0, failed = 0, skipped = 0;
    auto worker = [&] {
        for (std::size_t i; (i = next++) < files.size();) {
            Outcome o = convertOne(files[i], force);
            std::lock_guard lock(mutex);
            ++done;
            failed += o.failed;
            skipped += o.skipped;
            if (progress)
                std::fputs("\r\033[K", stderr);
            for (const auto& l : o.lines)
                std::fprintf(stderr, "%s\n", l.c_str());
            if (progress)
                std::fprintf(stderr, "[%zu/%zu] %s", done, files.size(), files[i].c_str());
        }
    };
    const int n = std::min<int>(jobs, static_cast<int>(files.size()));
    std::vector<std::thread> threads;
    for (int t = 1; t < n; ++t)
        threads.emplace_back(worker);
    worker();
    for (auto& t : threads)
        t.join();
    if (progress)
        std::fputs("\r\033[K", stderr);
    if (!quiet) {
        std::string summary = std::to_string(files.size()) + (files.size() == 1 ? " file: " : " files: ") +
                              std::to_string(files.size() - failed - skipped) + " converted, ";
        if (skipped)
            summary += std::to_string(skipped) + " skipped (output exists), ";
        summary += std::to_string(failed) + " failed";
        std::fprintf(stderr, "%s\n", summary.c_str());
    }
    return failed ? 1 : 0;
}
