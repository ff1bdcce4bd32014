// The window's own work: one mouse move over a plot of 8192 points (readout, cross, repaint of
// its strips), a DAT command on the bundled sample from its start to the plotted pattern
// and to its end, a RAW file of 7000 steps opened, and a frame of panning over 21 patterns. Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "fmt_raw/raw.h"
#include "mainform/rawdat_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <random>

namespace {

using namespace rawdat;

void moveMouse(QWidget* w, QPoint pos)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(pos), w->mapToGlobal(QPointF(pos)), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// A window showing a pattern of 8192 points: peaks over a noisy background, fixed seed.
std::unique_ptr<TRawDat> windowWith8192Points()
{
    auto w = std::make_unique<TRawDat>();
    w->show();
    std::mt19937 rng(8192);
    std::poisson_distribution<int> noise(200);
    QVector<QCPGraphData> points;
    for (int i = 0; i < 8192; ++i) {
        const double x = 5 + i * 0.015;
        const double peak = 20000 * std::exp(-std::pow(std::fmod(x, 12.5) - 6, 2) / 0.01);
        points.append(QCPGraphData(x, noise(rng) + peak));
    }
    w->chart()->setPattern(points, 1.5406);
    w->chart()->replot();
    QApplication::processEvents();
    return w;
}

// Pointer positions inside the plotting rectangle, visited in turn.
std::vector<QPoint> pointerPath(const QRect& r)
{
    std::vector<QPoint> path;
    for (int k = 0; k < 64; ++k)
        path.emplace_back(r.left() + (k * 37) % r.width(), r.top() + (k * 23) % r.height());
    return path;
}

void BM_MouseMoveHandler(benchmark::State& state)
{
    auto w = windowWith8192Points();
    const auto path = pointerPath(w->chart()->plotRect());
    std::size_t k = 0;
    for (auto _ : state) {
        moveMouse(w->chart(), path[k++ % path.size()]);
        if (k % 64 == 0) { // keep the pending repaints from piling up, outside the measure
            state.PauseTiming();
            QApplication::processEvents();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_MouseMoveHandler)->Unit(benchmark::kMicrosecond);

// The move and the repaint it asks for: the two strips of the old cross and of the new one.
void BM_MouseMoveAndRepaint(benchmark::State& state)
{
    auto w = windowWith8192Points();
    const auto path = pointerPath(w->chart()->plotRect());
    std::size_t k = 0;
    for (auto _ : state) {
        moveMouse(w->chart(), path[k++ % path.size()]);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_MouseMoveAndRepaint)->Unit(benchmark::kMicrosecond);

// The DAT command on the bundled sample; arg 0 measures from the click to the plotted pattern
// (the replot that shows it), arg 1 the whole command with its two files written.
void BM_DatCommandOnSample(benchmark::State& state)
{
    const bool whole = state.range(0) == 1;
    QTemporaryDir dir;
    for (const char* f : {"LAB6.DAT", "CPS120.CAL"})
        QFile::copy(QStringLiteral(RAWDAT_SAMPLES "/") + QLatin1String(f), dir.filePath(QLatin1String(f)));
    const QString dat = dir.filePath(QStringLiteral("LAB6.DAT"));
    TRawDat w;
    w.show();
    w.setFileChooser([&](FileKind) { return std::optional<QString>(dat); });
    using Clock = std::chrono::steady_clock;
    Clock::time_point start;
    Clock::time_point plotted;
    QObject::connect(w.chart(), &QCustomPlot::afterReplot, [&] { plotted = Clock::now(); });
    auto* memo = w.findChild<QPlainTextEdit*>(QStringLiteral("Mem"));
    for (auto _ : state) {
        // No previous output, so no question.
        QFile::remove(dir.filePath(QStringLiteral("LAB6.RAW")));
        QFile::remove(dir.filePath(QStringLiteral("LAB6.2CL")));
        memo->clear();
        start = Clock::now();
        w.Bt_datClick();
        const Clock::time_point end = whole ? Clock::now() : plotted;
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    if (w.chart()->series()->data()->size() != 4096)
        state.SkipWithError("the sample was not plotted");
}
BENCHMARK(BM_DatCommandOnSample)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// A RAW file of `steps` steps from 10 degrees by 0.01, peaks over a noisy background.
QString writeRaw(const QTemporaryDir& dir, const char* name, int steps, unsigned seed)
{
    std::mt19937 rng(seed);
    std::poisson_distribution<int> noise(200);
    RawModule m;
    TScanHeader h;
    auto data = std::make_unique<TData>();
    h.Size = steps;
    h.Wavelength = 1.5406;
    m.RangeInfo.Start = 10;
    m.RangeInfo.Step = 0.01f;
    m.RangeInfo.StepTime = 1;
    for (int i = 1; i <= steps; ++i) {
        const double x = 10 + (i - 1) * 0.01;
        (*data)[i] = noise(rng) + static_cast<int>(20000 * std::exp(-std::pow(std::fmod(x, 12.5) - 6, 2) / 0.01));
    }
    const QString path = dir.filePath(QLatin1String(name));
    Ecr_RAW(m, QFile::encodeName(path).toStdString(), h, *data);
    return path;
}

// The RAW command on a file of 7000 steps; arg 0 measures from the click to the replot that
// shows the pattern, arg 1 to the window painted after the whole command (its files written).
void BM_OpenRaw7000(benchmark::State& state)
{
    const bool whole = state.range(0) == 1;
    QTemporaryDir dir;
    const QString raw = writeRaw(dir, "S7000.RAW", 7000, 7000);
    TRawDat w;
    w.show();
    QApplication::processEvents();
    w.setFileChooser([&](FileKind) { return std::optional<QString>(raw); });
    using Clock = std::chrono::steady_clock;
    Clock::time_point plotted;
    QObject::connect(w.chart(), &QCustomPlot::afterReplot, [&] { plotted = Clock::now(); });
    for (auto _ : state) {
        QFile::remove(dir.filePath(QStringLiteral("S7000.TXT")));
        QFile::remove(dir.filePath(QStringLiteral("S7000.2CL")));
        const Clock::time_point start = Clock::now();
        w.Bt_RAWClick();
        Clock::time_point end = plotted;
        if (whole) {
            w.repaint(); // what the event loop does next
            end = Clock::now();
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    if (w.chart()->series()->data()->size() != 7000)
        state.SkipWithError("the file was not plotted");
}
BENCHMARK(BM_OpenRaw7000)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// One frame while panning: the view moved by a step and the plot replotted and painted, with the
// pattern and 20 others of 7000 points over it, half of their range in view.
void BM_PanOverlayFrame(benchmark::State& state)
{
    QTemporaryDir dir;
    auto w = std::make_unique<TRawDat>();
    w->resize(1280, 800);
    w->show();
    QApplication::processEvents();
    QStringList others;
    for (int k = 0; k < 20; ++k)
        others << writeRaw(dir, qPrintable(QStringLiteral("O%1.RAW").arg(k)), 7000, 100 + k);
    w->setFileChooser([&](FileKind) { return std::optional<QString>(writeRaw(dir, "MAIN.RAW", 7000, 1)); });
    w->Bt_RAWClick();
    w->addToPlot(others);
    CrossChart* c = w->chart();
    if (c->graphCount() != 21)
        state.SkipWithError("the overlay was not drawn");
    c->xAxis->setRange(20, 45);
    c->replot();
    QApplication::processEvents();
    double step = 0.1;
    for (auto _ : state) {
        if (c->xAxis->range().upper > 78 || c->xAxis->range().lower < 12)
            step = -step;
        c->xAxis->moveRange(step);
        c->replot(QCustomPlot::rpImmediateRefresh);
    }
}
BENCHMARK(BM_PanOverlayFrame)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settings; // the window's settings, never the user's
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
