// The window's batch (Convert files…) against the converter's own loop over the same files: the
// same plan and conversions, one on a worker thread reporting to the GUI thread, one in a plain
// loop as rawdat-convert --jobs 1 runs them. Inputs: copies of the bundled DAT sample and of a
// real RAW1 file, converted afresh (outputs removed) in each iteration.
#include "convert/batch.h"
#include "mainform/batch_dialog.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <filesystem>

namespace {

using namespace rawdat;
namespace fs = std::filesystem;

// `n` copies of `source` (with the DAT sample's calibration beside them) in a fresh folder.
struct Inputs {
    QTemporaryDir dir;
    std::vector<std::string> files;
    Inputs(const fs::path& source, int n)
    {
        fs::copy_file(fs::path(RAWDAT_SAMPLES) / "CPS120.CAL", fs::path(dir.path().toStdString()) / "CPS120.CAL");
        for (int i = 0; i < n; ++i) {
            const fs::path p = fs::path(dir.path().toStdString()) / ("S" + std::to_string(1000 + i) + source.extension().string());
            fs::copy_file(source, p);
            files.push_back(p.string());
        }
    }
    // Removes the outputs of the last iteration.
    void clean() const
    {
        for (const auto& e : fs::directory_iterator(dir.path().toStdString()))
            if (const auto x = e.path().extension().string(); x == ".RAW" || x == ".2CL" || x == ".TXT")
                if (std::find(files.begin(), files.end(), e.path().string()) == files.end())
                    fs::remove(e.path());
    }
    std::vector<BatchItem> planned() const
    {
        std::vector<BatchItem> items(files.size());
        for (std::size_t i = 0; i < files.size(); ++i)
            items[i].given = files[i];
        ConversionOptions options;
        options.planned = true;
        planBatch(items, false, options);
        return items;
    }
};

const fs::path kDat = fs::path(RAWDAT_SAMPLES) / "LAB6.DAT";
const fs::path kRaw = fs::path(RAWDAT_TESTDATA) / "raw" / "BT86.raw";

void converterLoop(benchmark::State& state, const fs::path& source)
{
    const Inputs in(source, static_cast<int>(state.range(0)));
    ConversionOptions options;
    options.planned = true;
    options.existing = ConversionOptions::Existing::Keep;
    for (auto _ : state) {
        state.PauseTiming();
        in.clean();
        state.ResumeTiming();
        auto items = in.planned();
        for (BatchItem& it : items)
            if (it.state == BatchItem::State::Run)
                convertBatchItem(it, false, options);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void windowBatch(benchmark::State& state, const fs::path& source)
{
    const Inputs in(source, static_cast<int>(state.range(0)));
    ConversionOptions options;
    options.planned = true;
    for (auto _ : state) {
        state.PauseTiming();
        in.clean();
        state.ResumeTiming();
        BatchRun run(in.planned(), ExistingOutputs::KeepAll, options);
        QEventLoop loop;
        QObject::connect(&run, &BatchRun::finished, &loop, &QEventLoop::quit);
        QObject::connect(&run, &BatchRun::progress, &loop, [](int, int, const QString&) {}); // as the dialog is told
        run.start();
        loop.exec();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK_CAPTURE(converterLoop, dat, kDat)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(windowBatch, dat, kDat)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(converterLoop, raw1, kRaw)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(windowBatch, raw1, kRaw)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
