#include "mainform/calibrate_dialog.h"
#include "mainform/rawdat_window.h"

#include "convert/batch.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/names.h"
#include "ulit_dat/numtext.h"

#include <qcustomplot.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

namespace rawdat {

namespace {

constexpr const char* kStandards[] = {"lab6", "si", "ceo2"};

std::string local(const QString& s)
{
    return QFile::encodeName(s).toStdString();
}

QString fromLocal(const std::string& s)
{
    return QFile::decodeName(QByteArray::fromStdString(s));
}

} // namespace

CalibrateDialog::CalibrateDialog(const QString& datPath, QWidget* parent)
    : QDialog(parent), datPath_(QFileInfo(datPath).absoluteFilePath())
{
    setObjectName(QStringLiteral("CalibrateDialog"));
    setWindowTitle(tr("Calibrate from standard \u2013 %1").arg(QFileInfo(datPath_).fileName()));
    calPath_ = fromLocal(replaceExtension(local(datPath_), "CAL"));

    standard_ = new QComboBox(this);
    standard_->setObjectName(QStringLiteral("StandardBox"));
    for (const char* s : kStandards)
        standard_->addItem(QString::fromStdString(calib::standardTitle(s)), QString::fromLatin1(s));
    standard_->addItem(tr("d-spacings file\u2026"), QString());
    wavelength_ = new QDoubleSpinBox(this);
    wavelength_->setObjectName(QStringLiteral("WavelengthBox"));
    wavelength_->setDecimals(5);
    wavelength_->setRange(0.1, 5.0);
    wavelength_->setSuffix(QStringLiteral(" \u00c5"));
    auto* run = new QPushButton(tr("&Calibrate"), this);
    run->setObjectName(QStringLiteral("CalibrateButton"));

    pattern_ = new QCustomPlot(this);
    pattern_->setObjectName(QStringLiteral("PatternPlot"));
    pattern_->setMinimumSize(640, 280);
    pattern_->xAxis->setLabel(tr("channel"));
    pattern_->yAxis->setLabel(tr("counts"));
    pattern_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    residuals_ = new QCustomPlot(this);
    residuals_->setObjectName(QStringLiteral("ResidualPlot"));
    residuals_->setMinimumSize(640, 140);
    residuals_->xAxis->setLabel(tr("2\u03b8 (\u00b0)"));
    residuals_->yAxis->setLabel(tr("\u03942\u03b8 (\u00b0)"));
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("SummaryLabel"));
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->setWordWrap(true);

    save_ = new QPushButton(tr("&Save CAL"), this);
    save_->setObjectName(QStringLiteral("SaveCalButton"));
    save_->setEnabled(false);
    convert_ = new QPushButton(tr("C&onvert the DAT file with it"), this);
    convert_->setObjectName(QStringLiteral("ConvertButton"));
    convert_->setEnabled(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(save_, QDialogButtonBox::ActionRole);
    buttons->addButton(convert_, QDialogButtonBox::ActionRole);

    auto* choices = new QHBoxLayout;
    auto* form = new QFormLayout;
    form->addRow(tr("&Standard:"), standard_);
    form->addRow(tr("&Wavelength:"), wavelength_);
    choices->addLayout(form);
    choices->addWidget(run, 0, Qt::AlignBottom);
    choices->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choices);
    layout->addWidget(pattern_, 3);
    layout->addWidget(residuals_, 1);
    layout->addWidget(summary_);
    layout->addWidget(buttons);

    connect(run, &QPushButton::clicked, this, &CalibrateDialog::calibrateNow);
    connect(save_, &QPushButton::clicked, this, &CalibrateDialog::saveCal);
    connect(convert_, &QPushButton::clicked, this, &CalibrateDialog::convertWithCal);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    // The pattern as read, against channels.
    TLitdat lit;
    TScanHeader header;
    TScanParams params;
    auto data = std::make_unique<TData>();
    try {
        if (!lit.Lect_Dat(local(datPath_), header, params, *data))
            summary_->setText(tr("%1: file not opened").arg(datPath_));
    } catch (const std::exception& e) {
        summary_->setText(QString::fromStdString(e.what()));
        header.Size = 0;
    }
    QVector<double> x, y;
    for (int i = 1; i <= header.Size; ++i) {
        counts_.push_back((*data)[i]);
        x << i;
        y << (*data)[i];
    }
    wavelength_->setValue(header.Wavelength > 0.1 && header.Wavelength < 5.0 ? header.Wavelength : 1.54056);
    pattern_->addGraph()->setData(x, y, true);
    pattern_->graph(0)->setPen(QPen(Qt::darkGray));
    pattern_->rescaleAxes();
    run->setEnabled(!counts_.empty());
}

void CalibrateDialog::calibrateNow()
{
    const QString key = standard_->currentData().toString();
    std::vector<calib::Reflection> lines;
    std::string title;
    const double lambda = wavelength_->value();
    try {
        if (key.isEmpty()) {
            std::optional<QString> file = chooseLines ? chooseLines()
                                                      : std::optional<QString>(QFileDialog::getOpenFileName(
                                                            this, tr("d-spacings"), QFileInfo(datPath_).absolutePath()));
            if (!file || file->isEmpty())
                return;
            const Bytes text = fsio::readFile(local(*file), {1u << 20, "d-spacing list"});
            lines = calib::readLines(std::string(text.begin(), text.end()), local(QFileInfo(*file).fileName()));
            title = local(QFileInfo(*file).fileName());
        } else {
            lines = calib::standardReflections(key.toStdString(), lambda / 2.0);
            title = calib::standardTitle(key.toStdString());
        }
    } catch (const std::exception& e) {
        summary_->setText(QString::fromStdString(e.what()));
        return;
    }
    result_ = calib::calibrate(counts_, lines, lambda);
    showResult();
}

void CalibrateDialog::showResult()
{
    const calib::Result& r = result_;
    while (pattern_->graphCount() > 1)
        pattern_->removeGraph(pattern_->graphCount() - 1);
    pattern_->clearItems();
    residuals_->clearGraphs();
    auto top = [this](double channel) {
        const auto i = static_cast<std::size_t>(std::clamp<long>(std::lround(channel), 1, long(counts_.size())));
        return counts_[i - 1];
    };
    QVector<double> mx, my, ux, uy, rx, ry, lx, ly;
    for (const calib::Matched& m : r.matched) {
        mx << m.peak.centre;
        my << top(m.peak.centre);
        auto* label = new QCPItemText(pattern_);
        label->setObjectName(QStringLiteral("hkl"));
        label->setText(QString::fromStdString(m.line.label));
        label->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        label->position->setCoords(m.peak.centre, top(m.peak.centre));
        label->setColor(Qt::darkBlue);
        rx << m.expected;
        ry << m.residual;
        lx << m.expected;
        ly << m.leaveOut;
    }
    for (double c : r.unmatched) {
        ux << c;
        uy << top(c);
    }
    auto marks = [](QCustomPlot* plot, const QVector<double>& x, const QVector<double>& y, QColor colour,
                    QCPScatterStyle::ScatterShape shape, const QString& name) {
        QCPGraph* g = plot->addGraph();
        g->setName(name);
        g->setData(x, y, true);
        g->setLineStyle(QCPGraph::lsNone);
        g->setScatterStyle(QCPScatterStyle(shape, colour, 7));
        return g;
    };
    marks(pattern_, mx, my, Qt::blue, QCPScatterStyle::ssDisc, tr("matched"));
    marks(pattern_, ux, uy, QColor(230, 120, 0), QCPScatterStyle::ssCross, tr("not matched"));
    marks(residuals_, rx, ry, Qt::blue, QCPScatterStyle::ssDisc, tr("residual"));
    marks(residuals_, lx, ly, Qt::darkGray, QCPScatterStyle::ssCircle, tr("leave-one-out"));
    residuals_->rescaleAxes();
    pattern_->replot();
    residuals_->replot();

    QString text = tr("%1 peaks found, %2 reflections matched").arg(r.found).arg(r.reflections);
    if (!r.refusal.empty()) {
        text += QStringLiteral("\n") + QString::fromStdString(r.refusal);
    } else {
        text += tr("; residuals RMS %1\u00b0, max %2\u00b0, leave-one-out RMS %3\u00b0\n"
                   "converts 2\u03b8 %4\u00b0 to %5\u00b0 (channels %6 to %7)%8")
                    .arg(QString::fromStdString(fixedText(r.rms, 4)), QString::fromStdString(fixedText(r.maxAbs, 4)),
                         QString::fromStdString(fixedText(r.leaveOutRms, 4)),
                         QString::fromStdString(fixedText(r.fromAngle, 3)),
                         QString::fromStdString(fixedText(r.toAngle, 3)),
                         QString::fromStdString(fixedText(r.fromChannel, 1)),
                         QString::fromStdString(fixedText(r.toChannel, 1)),
                         r.doublets ? tr(", K\u03b11/K\u03b12 pairs") : QString());
        for (const calib::Gap& g : r.gaps)
            text += tr("\nno knot between channels %1 and %2")
                        .arg(QString::fromStdString(fixedText(g.fromChannel, 1)),
                             QString::fromStdString(fixedText(g.toChannel, 1)));
    }
    summary_->setText(text);
    save_->setEnabled(r.refusal.empty());
    convert_->setEnabled(false);
}

bool CalibrateDialog::replaceAsked(const QString& path)
{
    if (askReplace)
        return askReplace(path);
    return QMessageBox::question(this, windowTitle(), tr("%1 exists. Replace it?").arg(QDir::toNativeSeparators(path)),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

bool CalibrateDialog::saveCal()
{
    if (!result_.refusal.empty() || result_.matched.empty())
        return false;
    const std::string target = local(calPath_);
    try {
        if (fsio::sameFile(target, local(datPath_)))
            throw Refusal(target, "would replace the DAT file; nothing written");
        bool replace = false;
        if (fsio::checkReplaceable(target)) {
            if (!replaceAsked(calPath_))
                return false;
            replace = true;
        }
        calib::writeCal(target, result_.cal,
                        replace ? fsio::OutputGroup::Placement::Replace : fsio::OutputGroup::Placement::NoClobber);
    } catch (const std::exception& e) {
        summary_->setText(summary_->text() + QStringLiteral("\n") + QString::fromStdString(e.what()));
        return false;
    }
    summary_->setText(summary_->text() + tr("\nwrote %1").arg(QDir::toNativeSeparators(calPath_)));
    convert_->setEnabled(true);
    return true;
}

bool CalibrateDialog::convertWithCal()
{
    ConversionOptions options;
    options.calibration = local(calPath_);
    options.planned = true;
    options.existing = ConversionOptions::Existing::Keep;
    std::vector<BatchItem> items(1);
    items[0].given = local(datPath_);
    planBatch(items, false, options);
    bool force = false;
    if (items[0].state == BatchItem::State::Skipped) {
        if (!replaceAsked(fromLocal(items[0].outputs.front().path)))
            return false;
        items.assign(1, BatchItem{});
        items[0].given = local(datPath_);
        force = true;
        options.existing = ConversionOptions::Existing::Replace;
        planBatch(items, true, options);
    }
    BatchItem& it = items[0];
    if (it.state == BatchItem::State::Run) {
        try {
            convertBatchItem(it, force, options);
        } catch (const std::exception& e) {
            it.fail(e.what());
        }
    }
    QString said;
    for (const std::string& m : it.messages)
        said += QStringLiteral("\n") + fromLocal(m);
    if (it.state != BatchItem::State::Converted) {
        summary_->setText(summary_->text() + said);
        return false;
    }
    const QString raw = fromLocal(it.outputs.front().path);
    summary_->setText(summary_->text() + tr("\nconverted into %1").arg(QDir::toNativeSeparators(raw)) + said);
    emit converted(raw);
    return true;
}

// ---- the window's command ----

void TRawDat::calibrateClick()
{
    std::optional<QString> path;
    if (chooser_)
        path = chooser_(FileKind::Dat);
    else
        path = QFileDialog::getOpenFileName(this, tr("Calibrate from a standard"), dialogFolder(QStringLiteral("calibrate")),
                                            tr("DAT files (*.DAT *.dat);;All files (*)"));
    if (!path || path->isEmpty())
        return;
    rememberFolder(QStringLiteral("calibrate"), *path);
    auto* dialog = new CalibrateDialog(*path, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &CalibrateDialog::converted, this, [this](const QString& raw) { openFiles({raw}); });
    dialog->open();
}

} // namespace rawdat
