#include "mainform/file_panel.h"

#include "convert/session.h"
#include "fmt_raw/raw.h"
#include "mainform/cp1252.h"
#include "ulit_dat/numtext.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QResizeEvent>

#include <cmath>
#include <filesystem>

namespace rawdat {

namespace {

QString pathText(const std::string& path)
{
    return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(path)));
}

QString fixed(double value, int decimals) { return QString::fromStdString(fixedText(value, decimals)); }

// The anode whose K-alpha-1 is the wavelength to the thousandth, as the RAW writer picks it;
// empty when none is.
QString anodeOf(double wavelength)
{
    if (!std::isfinite(wavelength))
        return {};
    const long double w = std::trunc(static_cast<long double>(wavelength) * 1000.0L);
    for (int r = 1; r <= 5; ++r) // row 6 repeats copper under the symbol No
        if (w == std::trunc(static_cast<long double>(AnodeTable(r).Alpha1) * 1000.0L))
            return QString::fromStdString(AnodeTable(r).Anode.str());
    return {};
}

} // namespace

// ---- PathLabel ----

PathLabel::PathLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void PathLabel::setPath(const QString& path)
{
    path_ = path;
    setToolTip(path);
    elide();
}

QSize PathLabel::minimumSizeHint() const { return {0, fontMetrics().height()}; }

QSize PathLabel::sizeHint() const { return {fontMetrics().horizontalAdvance(path_), fontMetrics().height()}; }

void PathLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void PathLabel::elide()
{
    const int room = contentsRect().width();
    setText(room > 0 ? fontMetrics().elidedText(path_, Qt::ElideMiddle, room) : path_);
}

// ---- FilePanel ----

FilePanel::FilePanel(QWidget* parent) : QScrollArea(parent)
{
    setObjectName(QStringLiteral("FilePanel"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* inner = new QWidget;
    form_ = new QGridLayout(inner);
    form_->setColumnStretch(1, 1);
    form_->setVerticalSpacing(2);

    kind_ = addRow(tr("Kind"));
    path_ = new PathLabel;
    path_->setObjectName(QStringLiteral("PanelPath"));
    addField(tr("File"), path_);
    date_ = addRow(tr("Date"));
    sample_ = addRow(tr("Sample"));
    comments_ = addRow(tr("Comments"));
    wavelength_ = addRow(tr("Wavelength"));
    anode_ = addRow(tr("Anode"));
    ranges_ = new QComboBox;
    ranges_->setObjectName(QStringLiteral("RangeSelector"));
    ranges_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    addField(tr("Range"), ranges_);
    start_ = addRow(tr("Start"));
    step_ = addRow(tr("Step"));
    points_ = addRow(tr("Points"));
    stepTime_ = addRow(tr("Time per step"));
    end_ = addRow(tr("End"));
    calibration_ = addRow(tr("Calibration"));
    channels_ = addRow(tr("Channels"));
    written_ = addRow(tr("Written"));
    folder_ = addRow(tr("Folder"));
    form_->setRowStretch(form_->rowCount(), 1);
    setWidget(inner);

    connect(ranges_, &QComboBox::activated, this, [this](int k) {
        showRange(k);
        emit rangeChosen(k);
    });
    showState(TRawDatState{});
}

QLabel* FilePanel::addRow(const QString& name)
{
    auto* l = new QLabel;
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    addField(name, l);
    return l;
}

void FilePanel::addField(const QString& name, QWidget* field)
{
    auto* label = new QLabel(name);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const int row = form_->rowCount();
    form_->addWidget(label, row, 0);
    form_->addWidget(field, row, 1);
    rows_.insert(name, field);
    names_.insert(field, label);
}

void FilePanel::setRowVisible(QWidget* field, bool visible)
{
    field->setVisible(visible);
    names_.value(field)->setVisible(visible);
}

// Asked of the name, which nothing but the row's visibility hides.
bool FilePanel::isRowVisible(QWidget* field) const { return !names_.value(field)->isHidden(); }

void FilePanel::setRow(QLabel* row, const QString& text)
{
    row->setText(text);
    setRowVisible(row, !text.isEmpty());
}

QString FilePanel::value(const QString& row) const
{
    QWidget* w = rows_.value(row);
    if (!w || !isRowVisible(w))
        return {};
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    if (auto* path = qobject_cast<PathLabel*>(w))
        return path->path();
    return static_cast<QLabel*>(w)->text();
}

void FilePanel::showState(const TRawDatState& s)
{
    const auto& shown = s.Shown;
    const bool any = !shown.Path.empty();
    const bool dat = shown.Kind == FileKind::Dat;
    const TScanHeader& h = s.Header;
    setRow(kind_, !any ? tr("No file open") : dat ? tr("DAT detector file") : tr("RAW diffractometer file"));
    path_->setPath(any ? pathText(shown.Path) : QString());
    setRowVisible(path_, any);

    // The sample is the first comment of a DAT file and the second of a RAW file.
    const Text<80>* other = dat ? &h.Comment2 : &h.Comment1; // the comment that is not the sample
    QStringList comments;
    for (const Text<80>* c : {other, &h.Comment3}) {
        const QString t = fromWindows1252(c->str()).trimmed();
        if (!t.isEmpty())
            comments << t;
    }
    setRow(date_, any ? fromWindows1252(h.Date.str()).trimmed() : QString());
    setRow(sample_, any ? fromWindows1252((dat ? h.Comment1 : h.Comment2).str()).trimmed() : QString());
    setRow(comments_, any ? comments.join(QLatin1Char('\n')) : QString());
    const bool wavelength = any && std::isfinite(h.Wavelength) && h.Wavelength > 0;
    setRow(wavelength_, wavelength ? fixed(h.Wavelength, 5) + QStringLiteral(" \u00C5") : QString());
    setRow(anode_, wavelength ? anodeOf(h.Wavelength) : QString());

    // The ranges: every range of a RAW file; the grid of a converted DAT file.
    grids_.clear();
    if (any && !dat) {
        for (const TRawRange& r : s.Raw.Ranges)
            grids_.append({r.Info.Start, r.Info.Step, r.Size(), r.Info.StepTime});
    } else if (any && !shown.Written.empty()) {
        const TRangeInfo& r = s.Raw.RangeInfo;
        grids_.append({r.Start, r.Step, h.Size, r.StepTime});
    }
    setRangeCount(static_cast<int>(grids_.size()));
    setCurrentRange(dat ? 0 : static_cast<int>(s.Raw.MainRange));

    // The calibration of a DAT file: the one read, or the one read before when the user chose it.
    QString calibration;
    QString channels;
    if (any && dat) {
        const bool used = s.CalibOK || shown.FirstChannel > 0;
        if (used && !s.LastCalibPath.empty()) {
            const std::filesystem::path cal(s.LastCalibPath);
            calibration = pathText(cal.filename().string()) + tr(" in ") + pathText(cal.parent_path().string());
        } else {
            calibration = tr("%1 not read").arg(QString::fromStdString(s.CalFileName));
        }
        channels = tr("%1 read").arg(shown.Channels);
        if (shown.FirstChannel > 0)
            channels += tr(", %1 to %2 converted").arg(shown.FirstChannel).arg(shown.LastChannel);
    }
    setRow(calibration_, calibration);
    setRow(channels_, channels);

    QStringList written;
    for (const std::string& f : shown.Written)
        written << pathText(std::filesystem::path(f).filename().string());
    setRow(written_, written.join(QLatin1Char('\n')));
    setRow(folder_, shown.Written.empty()
                        ? QString()
                        : pathText(std::filesystem::path(shown.Written.front()).parent_path().string()));
}

void FilePanel::setRangeCount(int n)
{
    ranges_->clear();
    for (int k = 1; k <= n; ++k)
        ranges_->addItem(tr("Range %1 of %2").arg(k).arg(n));
    setRowVisible(ranges_, n > 0);
    showRange(0);
}

void FilePanel::setCurrentRange(int k)
{
    if (k < 0 || k >= ranges_->count())
        return;
    ranges_->setCurrentIndex(k);
    showRange(k);
}

int FilePanel::rangeCount() const { return ranges_->count(); }

int FilePanel::currentRange() const { return ranges_->currentIndex(); }

void FilePanel::showRange(int k)
{
    const bool any = k >= 0 && k < grids_.size();
    const Grid g = any ? grids_.at(k) : Grid{};
    setRow(start_, any ? fixed(g.start, 4) + QStringLiteral("\u00B0") : QString());
    setRow(step_, any ? fixed(g.step, 4) + QStringLiteral("\u00B0") : QString());
    setRow(points_, any ? QString::number(g.points) : QString());
    setRow(stepTime_, any ? fixed(g.stepTime, 3) + QStringLiteral(" s") : QString());
    // The last point's angle, as the grid gives it.
    setRow(end_, any ? fixed(g.start + (g.points - 1) * g.step, 4) + QStringLiteral("\u00B0") : QString());
}

} // namespace rawdat
