#include "mainform/overlay.h"

#include "convert/session.h"

#include <QFile>

#include <memory>
#include <stdexcept>

namespace rawdat {

namespace {

// Takes nothing from a read: no memo, no labels, no questions. The points are taken from the
// state once the file is read.
class SilentUi : public ConversionUi {
public:
    std::optional<std::string> chooseFile(FileKind) override { return std::nullopt; }
    void clearMemo() override {}
    void appendMemo(const std::string&) override {}
    void setLabel(LabelId, const std::string&) override {}
    void clearPlot() override {}
    void addPlotPoint(double, double) override {}
    bool askOverwrite(const std::string&) override { return false; }
    void reportError(const std::string&) override {}
};

} // namespace

OverlayPattern readOverlayPattern(const QString& path)
{
    const std::string file = QFile::encodeName(path).toStdString();
    const ContentKind kind = kindOf(file);
    if (kind != ContentKind::Dat && kind != ContentKind::Raw)
        throw std::runtime_error(file + ": not a DAT or RAW file");
    TRawDatState state;
    TLitdat litdat;
    SilentUi ui;
    TConversion conversion(state, litdat, ui);
    OverlayPattern p;
    if (kind == ContentKind::Dat) {
        if (!conversion.loadDat(file))
            throw std::runtime_error(file + ": file not opened");
        // As the DAT command plots it: against the calibration's angles, or channel numbers.
        p.channels = !state.CalibOK;
        for (int i = 1; i <= state.Header.Size; ++i) {
            const double x = p.channels ? i : static_cast<float>(litdat.Degree(state.Calibration, i));
            p.points.append(QCPGraphData(x, static_cast<float>((*state.Data)[i])));
        }
    } else {
        conversion.loadRaw(file);
        auto x = std::make_unique<TSingleArray>();
        auto y = std::make_unique<TSingleArray>();
        const XyPattern range = rawRangePattern(state, state.Raw.MainRange, *x, *y);
        for (std::size_t i = 1; i <= range.Intensity.size(); ++i)
            p.points.append(QCPGraphData((*x)[static_cast<int>(i)], (*y)[static_cast<int>(i)]));
    }
    p.wavelength = state.Header.Wavelength;
    std::stable_sort(p.points.begin(), p.points.end(),
                     [](const QCPGraphData& a, const QCPGraphData& b) { return a.key < b.key; });
    return p;
}

} // namespace rawdat
