// rawdat-convert: the command-line front end of the two conversions, for batches.
//
//   rawdat-convert [--force] [--jobs N] [--quiet] FILE...
//   rawdat-convert info FILE
//
// Each FILE is converted by its content, with a fresh state, exactly as the window would convert
// it: a DAT file gives NAME.RAW and NAME.2CL beside it, a RAW file NAME.TXT and NAME.2CL.
#include "convert/session.h"
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
    "              three for a RAW file), in UTF-8.\n"
    "\n"
    "Exit status: 0 when no file failed, 1 when any file failed, 2 for a usage error.\n"
    "Each failure is one line on standard error: FILE: message.\n";

enum class Kind { Dat, Raw, Unknown };

// RAW files begin with "RAW"; DAT files with the start byte 0x4B. Otherwise the extension decides.
Kind kindOf(const std::string& path)
{
    char head[4] = {};
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        const std::size_t n = std::fread(head, 1, 4, f);
        std::fclose(f);
        if (n >= 3 && std::memcmp(head, "RAW", 3) == 0)
            return Kind::Raw;
        if (n >= 1 && static_cast<unsigned char>(head[0]) == 0x4B)
            return Kind::Dat;
    }
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (ext == ".RAW")
        return Kind::Raw;
    if (ext == ".DAT")
        return Kind::Dat;
    return Kind::Unknown;
}

// The converter's side of the conversation: the file is already chosen, the answer to an
// overwrite question is the --force flag, results are not shown.
class BatchUi : public ConversionUi {
public:
    BatchUi(std::string path, bool force) : path_(std::move(path)), force_(force) {}
    std::optional<std::string> chooseFile(FileKind) override { return path_; }
    void clearMemo() override { memo.clear(); }
    void appendMemo(const std::string& line) override { memo.push_back(line); }
    void setLabel(LabelId, const std::string&) override {}
    void clearPlot() override {}
    void addPlotPoint(double, double) override {}
    bool askOverwrite(const std::string& path) override
    {
        if (!force_)
            kept.push_back(fs::path(path).filename().string());
        return force_;
    }
    void reportError(const std::string& message) override { error = message; }

    std::vector<std::string> memo;
    std::vector<std::string> kept;
    std::string error;

private:
    std::string path_;
    bool force_;
};

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
    BatchUi ui(path, false);
    TConversion conv(state, lit, ui);
    try {
        switch (kindOf(path)) {
        case Kind::Dat:
            if (!conv.loadDat(path)) {
                std::fprintf(stderr, "%s: file not opened\n", given.c_str());
                return 1;
            }
            break;
        case Kind::Raw: conv.loadRaw(path); break;
        case Kind::Unknown:
            std::fprintf(stderr, "%s: not a DAT or RAW file\n", given.c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", failureLine(path, e.what()).c_str());
        return 1;
    }
    for (const auto& line : ui.memo)
        std::printf("%s\n", windows1252ToUtf8(line).c_str());
    return 0;
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
    BatchUi ui(path, force);
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
    case Kind::Unknown: ui.error = "not a DAT or RAW file (neither its first bytes nor its extension say which)"; break;
    }
    for (const auto& k : ui.kept)
        out.lines.push_back(given + ": kept existing " + k);
    out.skipped = ok && kind == Kind::Dat && !ui.kept.empty();
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
    if (!args.empty() && args[0] == "info") {
        if (args.size() != 2) {
            std::fprintf(stderr, "rawdat-convert: info takes one FILE\n%s", kUsage);
            return 2;
        }
        return info(args[1]);
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
