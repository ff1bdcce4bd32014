#include "reliability.h"

#include "fmt_raw/raw.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/f1b_images.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace fs = std::filesystem;

namespace rawdat::test {

FolderImage folderImage(const fs::path& folder)
{
    FolderImage image;
    std::error_code ec; // a looping link is no regular file
    for (const auto& name : listFolder(folder))
        if (fs::is_regular_file(folder / name, ec))
            image[name] = readBytes((folder / name).string());
        else
            image[name] = {};
    return image;
}

std::vector<std::string> temporaries(const fs::path& folder)
{
    std::vector<std::string> found;
    for (const auto& name : listFolder(folder))
        if (name.size() > 1 && name[0] == '.' && name.find(".tmp") != std::string::npos)
            found.push_back(name);
    return found;
}

std::string writeDatWithCalibration(const TempDir& dir, int channels)
{
    TLitdat lit;
    lit.Ecr_CAL(dir.file("C.CAL"), lineCalibration(10.4, channels - 10.0, 10.0, 0.02));
    const auto scan = std::make_unique<DatScan>(datScan(channels, "C"));
    const std::string path = dir.file("S.DAT");
    lit.Ecr_DAT(path, scan->h, scan->p, scan->d);
    return path;
}

std::string writeRaw2(const TempDir& dir, const std::string& name, int steps)
{
    const auto scan = std::make_unique<DatScan>(datScan(steps, "C"));
    RawModule m;
    m.RangeInfo.Start = 10.0f;
    m.RangeInfo.Step = 0.02f;
    const std::string path = dir.file(name);
    Ecr_RAW(m, path, scan->h, scan->d);
    return path;
}

std::string writeFdt(const TempDir& dir, const std::string& name)
{
    TLitdat lit;
    auto scan = std::make_unique<DatScan>(datScan(1024, "C"));
    scan->h.KChannels = 1;
    scan->h.NbScans = 1;
    const std::string path = dir.file(name);
    lit.writeInitFDT(path, scan->h);
    lit.EcrScanFDT(1, path, scan->p, scan->h, scan->d);
    return path;
}

void writeF1bFiles(const TempDir& dir, int n, int scans)
{
    F1bSpec layout;
    layout.n = n;
    layout.scans = scans;
    writeText(dir.file("run.par"), makeParams(scans));
    writeText(dir.file("run.F1B"), makeF1b(layout));
}

CommandRun runF1bConversion(const TempDir& dir)
{
    TLitdat lit;
    auto scan = std::make_unique<DatScan>();
    TCalibration cal;
    CommandRun r;
    try {
        lit.lect_F1B(dir.file("run.par"), dir.file("run.F1B"), scan->p, scan->h, scan->d, cal);
        r.ok = true;
    } catch (const RawdatError& e) {
        r.errors.push_back(e.what());
    }
    return r;
}

namespace {

template <class Command> CommandRun runCommand(const std::string& path, bool overwrite, Command command)
{
    TLitdat lit;
    TRawDatState state;
    RecordingUi ui;
    ui.nextFile = path;
    ui.answer = overwrite;
    TConversion conv(state, lit, ui);
    CommandRun run;
    run.ok = (conv.*command)();
    if (run.ok && !ui.memo.empty() && ui.memo.back() == "file not opened") {
        run.ok = false;
        run.errors.push_back("file not opened");
    }
    run.errors.insert(run.errors.end(), ui.errors.begin(), ui.errors.end());
    run.asked = ui.asked;
    return run;
}

} // namespace

CommandRun runDatCommand(const std::string& path, bool overwrite)
{
    return runCommand(path, overwrite, &TConversion::runDat);
}

CommandRun runRawCommand(const std::string& path, bool overwrite)
{
    return runCommand(path, overwrite, &TConversion::runRaw);
}

std::string converterCommand()
{
    if (const char* c = std::getenv("RAWDAT_CONVERT_COMMAND"); c && *c)
        return c;
#ifdef RAWDAT_CONVERT
    return "'" RAWDAT_CONVERT "'";
#else
    return "rawdat-convert";
#endif
}

bool convertsOnWindows()
{
    const char* c = std::getenv("RAWDAT_CONVERT_COMMAND");
    return c && std::string(c).find(".exe") != std::string::npos;
}

std::string asConverterSpellsIt(const std::string& path)
{
    if (!convertsOnWindows())
        return path;
    std::string w = "Z:" + path;
    std::replace(w.begin(), w.end(), '/', '\\');
    return w;
}

} // namespace rawdat::test
