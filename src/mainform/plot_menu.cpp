// The plot's menus: the intensity scale and the unit of x (View), the ranges of a RAW file, the
// patterns drawn over the one in view, and the readout of the data point under the pointer.
#include "mainform/overlay.h"
#include "mainform/rawdat_window.h"
#include "ulit_dat/numtext.h"

#include <QAction>
#include <QActionGroup>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QMenuBar>
#include <QSpinBox>

#include <exception>

namespace rawdat {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

} // namespace

void TRawDat::addPlotActions(QMenu* file)
{
    saveData_ = file->addAction(tr("Save &data as\u2026"), this, &TRawDat::saveDataAs);
    saveData_->setObjectName(QStringLiteral("SaveDataAction"));
    saveData_->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    file->addSeparator();
    QAction* add = file->addAction(tr("&Add to plot\u2026"), this, &TRawDat::addToPlotClick);
    add->setObjectName(QStringLiteral("AddToPlotAction"));
    clearOverlay_ = file->addAction(tr("C&lear overlay"), this, &TRawDat::clearOverlay);
    clearOverlay_->setObjectName(QStringLiteral("ClearOverlayAction"));
}

void TRawDat::buildViewMenu()
{
    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->setObjectName(QStringLiteral("ViewMenu"));
    scaleGroup_ = new QActionGroup(this);
    const struct {
        const char* name;
        QString text;
        IntensityScale scale;
        const char* keys;
    } scales[] = {{"LinearScaleAction", tr("&Linear intensity"), IntensityScale::Linear, ""},
                  {"SqrtScaleAction", tr("&Square-root intensity"), IntensityScale::SquareRoot, ""},
                  {"LogScaleAction", tr("L&ogarithmic intensity"), IntensityScale::Log, "Ctrl+L"}};
    for (const auto& s : scales) {
        QAction* a = view->addAction(s.text);
        a->setObjectName(QLatin1String(s.name));
        a->setCheckable(true);
        a->setChecked(s.scale == IntensityScale::Linear);
        a->setShortcut(QKeySequence(QLatin1String(s.keys)));
        a->setData(static_cast<int>(s.scale));
        scaleGroup_->addAction(a);
        const IntensityScale scale = s.scale;
        connect(a, &QAction::triggered, this, [this, scale] { setScaleClick(scale); });
    }
    view->addSeparator();
    unitGroup_ = new QActionGroup(this);
    const struct {
        const char* name;
        QString text;
        XUnit unit;
    } units[] = {{"TwoThetaAction", tr("x in &2\u03B8 (\u00B0)"), XUnit::TwoTheta},
                 {"DSpacingAction", tr("x in &d (\u00C5)"), XUnit::D},
                 {"QAction", tr("x in &Q (\u00C5\u207B\u00B9)"), XUnit::Q}};
    for (const auto& u : units) {
        QAction* a = view->addAction(u.text);
        a->setObjectName(QLatin1String(u.name));
        a->setCheckable(true);
        a->setData(static_cast<int>(u.unit));
        unitGroup_->addAction(a);
        const XUnit unit = u.unit;
        connect(a, &QAction::triggered, this, [this, unit] {
            Chart1->setXUnit(unit);
            Chart1->replot();
            updateViewMenu();
        });
    }
    view->addSeparator();
    nextRange_ = view->addAction(tr("&Next range"), this, [this] { showRange(rangeInView_ + 1); });
    nextRange_->setObjectName(QStringLiteral("NextRangeAction"));
    nextRange_->setShortcut(QKeySequence(QStringLiteral("Ctrl+PgDown")));
    previousRange_ = view->addAction(tr("&Previous range"), this, [this] { showRange(rangeInView_ - 1); });
    previousRange_->setObjectName(QStringLiteral("PreviousRangeAction"));
    previousRange_->setShortcut(QKeySequence(QStringLiteral("Ctrl+PgUp")));
    QAction* all = view->addAction(tr("Show &all"), this, &TRawDat::Chart1DblClick);
    all->setObjectName(QStringLiteral("ShowAllAction"));
    updateViewMenu();
}

void TRawDat::updateViewMenu()
{
    for (QAction* a : scaleGroup_->actions())
        a->setChecked(a->data().toInt() == static_cast<int>(Chart1->scale()));
    for (QAction* a : unitGroup_->actions()) {
        const auto unit = static_cast<XUnit>(a->data().toInt());
        a->setEnabled(unit == XUnit::TwoTheta ? !Chart1->channelAxis() : Chart1->xUnitsAvailable());
        a->setChecked(unit == Chart1->xUnit());
    }
    nextRange_->setEnabled(rangeInView_ + 1 < rangeCount());
    previousRange_->setEnabled(rangeInView_ > 0 && rangeCount() > 1);
    saveData_->setEnabled(!state_.LastPattern.Intensity.empty());
    clearOverlay_->setEnabled(Chart1->overlayCount() > 0);
}

// Ctrl+L (the log entry chosen again) goes back to the scale shown before the log scale.
void TRawDat::setScaleClick(IntensityScale scale)
{
    const IntensityScale now = Chart1->scale();
    if (scale == IntensityScale::Log && now == IntensityScale::Log)
        scale = previousScale_;
    else if (scale == IntensityScale::Log)
        previousScale_ = now;
    Chart1->setScale(scale);
    Chart1->replot();
    updateViewMenu();
}

// "Cursor : 2θ 25.500°  d 3.4904 Å  130 counts": the data point nearest to the pointer's column.
// Without data, the pointer's position in axis units.
QString TRawDat::readoutText(int X, int Y) const
{
    const auto p = Chart1->nearestPoint(X);
    if (!p) {
        const double x = Chart1->xAxis->pixelToCoord(X);
        const double y = Chart1->yAxis->pixelToCoord(Y);
        return q("Cursor : (" + fixedText(x, 3, 5) + "/" + fixedText(y, 4, 5) + ")");
    }
    const QString counts = q(Chart1->countsHaveDecimals() ? fixedText(p->counts, 3) : fixedText(p->counts, 0));
    if (Chart1->channelAxis())
        return q("Cursor : channel " + fixedText(p->x, 0)) + QStringLiteral("  ") + counts + QStringLiteral(" counts");
    QString text = QStringLiteral("Cursor : 2\u03B8 ") + q(fixedText(p->x, 3)) + QStringLiteral("\u00B0");
    const double lambda = Chart1->wavelength();
    if (const auto d = CrossChart::xOf(p->x, XUnit::D, lambda))
        text += QStringLiteral("  d ") + q(fixedText(*d, 4)) + QStringLiteral(" \u00C5");
    if (Chart1->xUnit() == XUnit::Q)
        if (const auto qv = CrossChart::xOf(p->x, XUnit::Q, lambda))
            text += QStringLiteral("  Q ") + q(fixedText(*qv, 4)) + QStringLiteral(" \u00C5\u207B\u00B9");
    return text + QStringLiteral("  ") + counts + QStringLiteral(" counts");
}

// ---- ranges ----

int TRawDat::rangeCount() const { return rawInView_ ? static_cast<int>(state_.Raw.Ranges.size()) : 0; }

void TRawDat::showRange(int k)
{
    if (k < 0 || k >= rangeCount() || k == rangeInView_)
        return;
    auto x = std::make_unique<TSingleArray>();
    auto y = std::make_unique<TSingleArray>();
    const XyPattern range = rawRangePattern(state_, static_cast<std::size_t>(k), *x, *y);
    QVector<QCPGraphData> points;
    points.reserve(static_cast<qsizetype>(range.Intensity.size()));
    for (int i = 1; i <= static_cast<int>(range.Intensity.size()); ++i)
        points.append(QCPGraphData((*x)[i], (*y)[i]));
    Chart1->setPattern(points, state_.Header.Wavelength);
    rangeInView_ = k;
    Chart1->replot();
    updateViewMenu();
    emit rangeShown(k);
}

XyPattern TRawDat::patternInView() const
{
    if (!rawInView_ || rangeInView_ == static_cast<int>(state_.Raw.MainRange) || state_.LastPattern.Intensity.empty())
        return state_.LastPattern;
    auto x = std::make_unique<TSingleArray>();
    auto y = std::make_unique<TSingleArray>();
    return rawRangePattern(state_, static_cast<std::size_t>(rangeInView_), *x, *y);
}

QString TRawDat::titleOfView() const
{
    if (rangeCount() > 1)
        return tr("%1, range %2 of %3").arg(fileInView_).arg(rangeInView_ + 1).arg(rangeCount());
    return fileInView_;
}

// ---- overlay ----

void TRawDat::addToPlotClick()
{
    const QStringList paths =
        overlayChooser_ ? overlayChooser_()
                        : QFileDialog::getOpenFileNames(this, tr("Add to plot"), dialogFolder(QStringLiteral("AddToPlot")),
                                                        tr("DAT and RAW files (*.DAT *.RAW *.dat *.raw);;All files (*)"));
    if (!paths.isEmpty() && !overlayChooser_)
        rememberFolder(QStringLiteral("AddToPlot"), paths.constFirst());
    addToPlot(paths);
}

void TRawDat::addToPlot(const QStringList& paths)
{
    for (const QString& path : paths) {
        try {
            const OverlayPattern p = readOverlayPattern(path);
            if (p.channels != Chart1->channelAxis())
                throw std::runtime_error(QFile::encodeName(path).toStdString() +
                                         (p.channels ? ": its calibration was not read; channels cannot be drawn over angles"
                                                     : ": angles cannot be drawn over channels"));
            Chart1->addOverlay(QFileInfo(path).fileName(), p.points, p.wavelength);
        } catch (const std::exception& e) {
            reportError(e.what());
        }
    }
    if (Chart1->series()->data()->isEmpty())
        Chart1->showAll();
    Chart1->replot();
    updateViewMenu();
}

void TRawDat::clearOverlay()
{
    Chart1->clearOverlay();
    Chart1->replot();
    updateViewMenu();
}

// ---- pictures ----

bool TRawDat::askPictureSize(QSize& pixels, int& dpi)
{
    QDialog d(this);
    d.setObjectName(QStringLiteral("PictureSizeDialog"));
    d.setWindowTitle(tr("PNG size"));
    auto* form = new QFormLayout(&d);
    const auto spin = [&](int lo, int hi, int value, const QString& suffix) {
        auto* s = new QSpinBox(&d);
        s->setRange(lo, hi);
        s->setValue(value);
        s->setSuffix(suffix);
        return s;
    };
    QSpinBox* w = spin(100, 20000, Chart1->width(), tr(" px"));
    QSpinBox* h = spin(100, 20000, Chart1->height(), tr(" px"));
    QSpinBox* r = spin(50, 1200, dpi, tr(" dpi"));
    form->addRow(tr("&Width:"), w);
    form->addRow(tr("&Height:"), h);
    form->addRow(tr("&Resolution:"), r);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
    connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
    form->addRow(buttons);
    if (d.exec() != QDialog::Accepted)
        return false;
    pixels = QSize(w->value(), h->value());
    dpi = r->value();
    return true;
}

} // namespace rawdat
