// One whole conversion as rawdat-convert runs it for each file: a fresh state, the command with
// the file already chosen, overwrite answered yes, nothing shown. DAT: 8192 channels with their
// spline calibration, giving RAW and 2CL; RAW: 8000 steps, giving TXT and 2CL.
// Argument 0: the files on tmpfs ("memory"); 1: in the current folder ("files", a disk).
#include "bench_inputs.h"
#include "convert/session.h"

#include <benchmark/benchmark.h>

namespace {

using namespace rawdat;
using namespace rawdat::bench;

class NullUi : public ConversionUi {
public:
    explicit NullUi(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> chooseFile(FileKind) override { return path_; }
    void clearMemo() override {}
    void appendMemo(const std::string&) override {}
    void setLabel(LabelId, const std::string&) override {}
    void clearPlot() override {}
    void addPlotPoint(double, double) override {}
    bool askOverwrite(const std::string&) override { return true; }
    void reportError(const std::string& message) override { error = message; }

    std::string error;

private:
    std::string path_;
};

// Runs one command on `path` per iteration, each with its own state.
template <bool Dat>
void runConversions(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        TRawDatState s;
        TLitdat lit;
        NullUi ui(path);
        TConversion conv(s, lit, ui);
        if (!(Dat ? conv.runDat() : conv.runRaw())) {
            state.SkipWithError(ui.error.c_str());
            break;
        }
    }
    state.SetLabel(state.range(0) == 0 ? "memory" : "files");
}

void BM_ConvertDat(benchmark::State& state)
{
    ScratchDir dir(state.range(0) == 0);
    const auto s = detectorScan();
    TLitdat lit;
    lit.Ecr_CAL(dir.file("BENCH.CAL"), detectorCalibration());
    const std::string path = dir.file("S.DAT");
    lit.Ecr_DAT(path, s->header, s->params, s->data);
    runConversions<true>(state, path);
}

void BM_ConvertRaw(benchmark::State& state)
{
    ScratchDir dir(state.range(0) == 0);
    RawModule m;
    const auto s = rawScan(m);
    const std::string path = dir.file("S.RAW");
    Ecr_RAW(m, path, s->header, s->data);
    runConversions<false>(state, path);
}

BENCHMARK(BM_ConvertDat)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertRaw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
