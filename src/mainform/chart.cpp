#include "mainform/chart.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rawdat {

CrossChart::CrossChart(QWidget* parent) : QCustomPlot(parent)
{
    setMouseTracking(true);
    legend->setVisible(false);

    plotLayout()->insertRow(0);
    auto* title = new QCPTextElement(this, QString()); // the window names the file in view here
    title->setObjectName(QStringLiteral("ChartTitle"));
    plotLayout()->addElement(0, 0, title);

    series_ = addGraph(xAxis, yAxis);
    series_->setName(QStringLiteral("Series1"));
    series_->setPen(QPen(Qt::red));
    series_->setLineStyle(QCPGraph::lsLine);
    series_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));

    main_.graph = series_;
    note_ = new QCPItemText(this);
    note_->setObjectName(QStringLiteral("ChartNote"));
    note_->position->setType(QCPItemPosition::ptAxisRectRatio);
    note_->position->setCoords(0.5, 0.1);
    note_->setPositionAlignment(Qt::AlignHCenter | Qt::AlignTop);
    note_->setVisible(false);
    setFocusPolicy(Qt::StrongFocus);

    setChannelAxis(false);
    updateAxes();

    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    connect(xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& r) { keepWithin(xAxis, r, keyLimits_); });
    connect(yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& r) { keepWithin(yAxis, r, valueLimits_); });
}

void CrossChart::setChannelAxis(bool channels)
{
    if (channels != channels_)
        clearOverlay(); // patterns against angles mean nothing over channels, and the other way round
    channels_ = channels;
    if (channels)
        unit_ = XUnit::TwoTheta; // channels are no angles
    updateAxes();
}

namespace {

// The square-root axis: the ticks of a linear axis of counts, drawn at their square roots.
class SqrtTicker : public QCPAxisTicker {
public:
    static double root(double v) { return std::copysign(std::sqrt(std::abs(v)), v); }
    static double square(double v) { return std::copysign(v * v, v); }
    void generate(const QCPRange& range, const QLocale& locale, QChar formatChar, int precision,
                  QVector<double>& ticks, QVector<double>* subTicks, QVector<QString>* tickLabels) override
    {
        QCPAxisTicker::generate(QCPRange(square(range.lower), square(range.upper)), locale, formatChar, precision,
                                ticks, subTicks, tickLabels);
        for (double& t : ticks)
            t = root(t);
        if (subTicks)
            for (double& t : *subTicks)
                t = root(t);
    }
};

const QColor kOverlayColours[] = {QColor(0, 90, 200),  QColor(0, 140, 60),   QColor(230, 130, 0),
                                  QColor(130, 50, 170), QColor(0, 150, 160), QColor(140, 80, 30),
                                  QColor(220, 0, 150),  QColor(110, 120, 0),  QColor(90, 90, 90)};

QColor overlayColour(std::size_t i)
{
    constexpr std::size_t n = std::size(kOverlayColours);
    if (i < n)
        return kOverlayColours[i];
    return QColor::fromHsv(static_cast<int>((i * 137) % 360), 220, 170); // golden-angle hues
}

} // namespace

std::optional<double> CrossChart::xOf(double twoTheta, XUnit unit, double lambda)
{
    if (unit == XUnit::TwoTheta)
        return twoTheta;
    const double s = std::sin(twoTheta * std::numbers::pi / 360);
    if (!(lambda > 0) || !(s > 0))
        return std::nullopt; // no d at 0 or below, and no d or Q without a wavelength
    if (unit == XUnit::D)
        return lambda / (2 * s);
    return 4 * std::numbers::pi * s / lambda;
}

void CrossChart::updateAxes()
{
    static const QString xLabels[] = {QStringLiteral("2\u03B8 (\u00B0)"), QStringLiteral("d (\u00C5)"),
                                      QStringLiteral("Q (\u00C5\u207B\u00B9)")};
    xAxis->setLabel(channels_ ? QStringLiteral("Channel") : xLabels[static_cast<int>(unit_)]);
    switch (scale_) {
    case IntensityScale::Linear:
        yAxis->setScaleType(QCPAxis::stLinear);
        yAxis->setTicker(QSharedPointer<QCPAxisTicker>::create());
        yAxis->setLabel(QStringLiteral("Intensity (counts)"));
        break;
    case IntensityScale::SquareRoot:
        yAxis->setScaleType(QCPAxis::stLinear);
        yAxis->setTicker(QSharedPointer<SqrtTicker>::create());
        yAxis->setLabel(QStringLiteral("Intensity (counts, square-root scale)"));
        break;
    case IntensityScale::Log:
        yAxis->setScaleType(QCPAxis::stLogarithmic);
        yAxis->setTicker(QSharedPointer<QCPAxisTickerLog>::create());
        yAxis->setLabel(QStringLiteral("Intensity (counts, log scale; 0 and below drawn at 0.5)"));
        break;
    }
}

double CrossChart::valueOf(double counts) const
{
    switch (scale_) {
    case IntensityScale::SquareRoot: return SqrtTicker::root(counts);
    case IntensityScale::Log: return std::max(counts, kLogFloor);
    default: return counts;
    }
}

void CrossChart::setPoints(Pattern& p, const QVector<QCPGraphData>& points, double wavelength)
{
    p.points.clear();
    p.points.reserve(points.size());
    p.decimals = false;
    for (const QCPGraphData& d : points) {
        p.points.push_back({d.key, d.value});
        p.decimals = p.decimals || d.value != std::floor(d.value);
    }
    p.wavelength = wavelength;
    rebuild(p);
}

void CrossChart::rebuild(Pattern& p)
{
    QVector<QCPGraphData> data;
    data.reserve(static_cast<qsizetype>(p.points.size()));
    p.source.clear();
    const double lambda = p.wavelength > 0 ? p.wavelength : main_.wavelength;
    for (std::size_t i = 0; i < p.points.size(); ++i) {
        const auto x = channels_ ? std::optional<double>(p.points[i].x) : xOf(p.points[i].x, unit_, lambda);
        if (!x)
            continue;
        data.append(QCPGraphData(*x, valueOf(p.points[i].counts)));
        p.source.push_back(static_cast<int>(i));
    }
    if (unit_ == XUnit::D) { // d falls as 2-theta rises
        std::reverse(data.begin(), data.end());
        std::reverse(p.source.begin(), p.source.end());
    }
    p.graph->data()->set(data, true);
}

void CrossChart::rebuildAll()
{
    rebuild(main_);
    for (Pattern& p : overlays_)
        rebuild(p);
    updateViewLimits();
}

void CrossChart::setPattern(const QVector<QCPGraphData>& points, double wavelength)
{
    main_.wavelength = wavelength;
    if (!xUnitsAvailable() && unit_ != XUnit::TwoTheta) {
        unit_ = XUnit::TwoTheta;
        updateAxes();
    }
    setPoints(main_, points, wavelength);
    for (Pattern& p : overlays_) // those without a wavelength of their own take the new one
        rebuild(p);
    updateViewLimits();
    updateNote();
    showAll();
}

void CrossChart::setPatternName(const QString& name) { series_->setName(name); }

void CrossChart::setScale(IntensityScale scale)
{
    scale_ = scale;
    updateAxes();
    rebuildAll();
    showAll();
}

bool CrossChart::setXUnit(XUnit unit)
{
    if (unit != XUnit::TwoTheta && !xUnitsAvailable())
        return false;
    unit_ = unit;
    updateAxes();
    rebuildAll();
    showAll();
    return true;
}

void CrossChart::addOverlay(const QString& name, const QVector<QCPGraphData>& points, double wavelength)
{
    Pattern p;
    p.graph = addGraph(xAxis, yAxis);
    p.graph->setName(name);
    p.graph->setPen(QPen(overlayColour(overlays_.size())));
    p.graph->setLineStyle(QCPGraph::lsLine);
    setPoints(p, points, wavelength);
    overlays_.push_back(std::move(p));
    legend->setVisible(true);
    updateViewLimits();
}

void CrossChart::clearOverlay()
{
    for (Pattern& p : overlays_)
        removeGraph(p.graph);
    overlays_.clear();
    legend->setVisible(false);
    updateViewLimits();
}

void CrossChart::updateNote()
{
    const bool zero = !main_.points.empty() &&
                      std::all_of(main_.points.cbegin(), main_.points.cend(), [](const PatternPoint& p) { return p.counts == 0; });
    note_->setText(zero ? QStringLiteral("All counts are zero.") : QString());
    note_->setVisible(zero);
}

QString CrossChart::note() const { return note_->visible() ? note_->text() : QString(); }

std::optional<QCPRange> CrossChart::fullKeyRange() const
{
    std::optional<QCPRange> all;
    for (int i = 0; i < graphCount(); ++i) {
        bool found = false;
        const QCPRange r = graph(i)->getKeyRange(found);
        if (found)
            all = all ? QCPRange(std::min(all->lower, r.lower), std::max(all->upper, r.upper)) : r;
    }
    return all;
}

std::optional<QCPRange> CrossChart::fullValueRange() const
{
    std::optional<QCPRange> all;
    for (int i = 0; i < graphCount(); ++i) {
        bool found = false;
        const QCPRange r = graph(i)->getValueRange(found);
        if (found)
            all = all ? QCPRange(std::min(all->lower, r.lower), std::max(all->upper, r.upper)) : r;
    }
    if (!all)
        return std::nullopt;
    if (scale_ == IntensityScale::Log) {
        // The same rule on the logarithms: from the lowest point, which the floor keeps above 0.
        const double lo = std::log10(all->lower);
        double hi = std::log10(all->upper);
        hi = hi > lo ? hi + (hi - lo) * 0.05 : lo + 1;
        return QCPRange(std::pow(10.0, lo), std::pow(10.0, hi));
    }
    const double lo = std::min(0.0, all->lower);
    if (all->upper <= lo)
        return QCPRange(lo, lo + 1); // a flat line at 0 (or below) still shows a y range
    return QCPRange(lo, all->upper + (all->upper - lo) * 0.05);
}

bool CrossChart::showAll()
{
    const auto keys = fullKeyRange();
    if (!keys)
        return false;
    xAxis->setRange(keys->size() > 0 ? *keys : QCPRange(keys->lower - 1, keys->upper + 1));
    yAxis->setRange(*fullValueRange());
    return true;
}

std::optional<PatternPoint> CrossChart::nearestPoint(int x) const
{
    const auto data = series_->data();
    if (data->isEmpty())
        return std::nullopt;
    const double key = xAxis->pixelToCoord(x);
    auto it = std::lower_bound(data->constBegin(), data->constEnd(), key,
                               [](const QCPGraphData& d, double k) { return d.key < k; });
    if (it == data->constEnd() || (it != data->constBegin() && key - (it - 1)->key < it->key - key))
        --it;
    const auto i = static_cast<std::size_t>(it - data->constBegin());
    if (main_.source.size() != static_cast<std::size_t>(data->size()))
        return PatternPoint{it->key, it->value}; // filled from outside, without setPattern
    return main_.points[main_.source[i]];
}

bool CrossChart::savePicture(const QString& path, const QString& title, QSize pixels, int dpi)
{
    // The title row holds the file's name while the picture is drawn.
    auto* existing = findChild<QCPTextElement*>(QStringLiteral("ChartTitle"));
    const QString before = existing ? existing->text() : QString();
    QCPTextElement* titleElement = existing;
    if (existing) {
        existing->setText(title);
    } else {
        plotLayout()->insertRow(0);
        titleElement = new QCPTextElement(this, title);
        plotLayout()->addElement(0, 0, titleElement);
    }
    const double scale = dpi / 96.0;
    const int w = pixels.isEmpty() ? width() : qRound(pixels.width() / scale);
    const int h = pixels.isEmpty() ? height() : qRound(pixels.height() / scale);
    bool ok = false;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("pdf")) {
        ok = savePdf(path, w, h, QCP::epNoCosmetic, QStringLiteral("rawdat"), title);
    } else if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(QSize(w, h));
        svg.setViewBox(QRect(0, 0, w, h));
        svg.setTitle(title);
        QCPPainter painter;
        if (painter.begin(&svg)) {
            toPainter(&painter, w, h);
            ok = painter.end();
        }
        ok = ok && QFileInfo(path).size() > 0;
    } else {
        ok = savePng(path, w, h, scale, -1, dpi, QCP::ruDotsPerInch);
    }
    if (!existing) {
        plotLayout()->remove(titleElement);
        plotLayout()->simplify();
    } else {
        titleElement->setText(before);
    }
    replot();
    return ok;
}

void CrossChart::keyPressEvent(QKeyEvent* event)
{
    const auto zoom = [this](double factor) {
        xAxis->scaleRange(factor, xAxis->range().center());
        yAxis->scaleRange(factor, yAxis->range().center());
    };
    const auto pan = [](QCPAxis* axis, double fraction) {
        const QCPRange r = axis->range();
        if (axis->scaleType() == QCPAxis::stLogarithmic)
            axis->setRange(r.lower * std::pow(r.upper / r.lower, fraction), r.upper * std::pow(r.upper / r.lower, fraction));
        else
            axis->moveRange(r.size() * fraction);
    };
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoom(0.8); break;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: zoom(1.25); break;
    case Qt::Key_Left: pan(xAxis, -0.1); break;
    case Qt::Key_Right: pan(xAxis, 0.1); break;
    case Qt::Key_Up: pan(yAxis, 0.1); break;
    case Qt::Key_Down: pan(yAxis, -0.1); break;
    case Qt::Key_Home:
        if (!showAll())
            return;
        break;
    default: QCustomPlot::keyPressEvent(event); return;
    }
    event->accept();
    replot();
}

namespace {

constexpr double kViewMargin = 0.05; // of the data's span, on each side

// The data's range widened by the margin; a range of data that stay at or above 0 starts at 0,
// which is also where a double-click puts the bottom axis.
std::optional<QCPRange> withMargin(const QCPRange& data, bool found)
{
    if (!found)
        return std::nullopt;
    const double span = data.size();
    const double margin = span > 0 ? span * kViewMargin : std::max(1.0, std::abs(data.upper) * kViewMargin);
    return QCPRange(data.lower >= 0 ? 0.0 : data.lower - margin, data.upper + margin);
}

} // namespace

void CrossChart::updateViewLimits()
{
    const auto keys = fullKeyRange();
    keyLimits_ = withMargin(keys.value_or(QCPRange()), keys.has_value());
    // The counts stop where the full view does.
    valueLimits_ = fullValueRange();
}

void CrossChart::keepWithin(QCPAxis* axis, const QCPRange& range, const std::optional<QCPRange>& limits)
{
    if (!limits)
        return;
    QCPRange kept = range;
    if (range.size() >= limits->size())
        kept = *limits;
    else if (range.lower < limits->lower)
        kept += limits->lower - range.lower;
    else if (range.upper > limits->upper)
        kept -= range.upper - limits->upper;
    if (kept != range)
        axis->setRange(kept); // emits rangeChanged again, with a range that stays
}

QRect CrossChart::plotRect() const
{
    // QCPAxisRect::rect() is the inner rectangle; its width and height count whole pixels.
    return axisRect()->rect();
}

void CrossChart::invertCross(int x, int y)
{
    const QPoint p(x, y);
    if (!crosses_.removeOne(p))
        crosses_.append(p);
    updateStrips(p);
}

void CrossChart::updateStrips(QPoint p)
{
    const QRect r = plotRect();
    update(QRect(r.left(), p.y(), r.width(), 1));
    update(QRect(p.x(), r.top(), 1, r.height()));
}

void CrossChart::paintEvent(QPaintEvent* event)
{
    const QRegion region = event->region();
    if (region.rectCount() <= 1 || !qFuzzyCompare(bufferDevicePixelRatio(), devicePixelRatioF())) {
        QCustomPlot::paintEvent(event); // also rebuilds the buffers for a new pixel ratio
    } else {
        // The strips of a cross: each is copied from the cached buffers under its own
        // rectangular clip, which the raster engine copies row by row; the region as one clip
        // would be blended span by span.
        QCPPainter painter(this);
        for (const QRect& r : region) {
            painter.setClipRect(r);
            if (mBackgroundBrush.style() != Qt::NoBrush)
                painter.fillRect(mViewport, mBackgroundBrush);
            drawBackground(&painter);
            for (const auto& buffer : std::as_const(mPaintBuffers))
                buffer->draw(&painter);
        }
    }
    if (!crosses_.isEmpty())
        paintCrosses();
}

void CrossChart::paintCrosses()
{
    // The raster engine hands a fill of more than about a hundred rows to its thread pool, which
    // costs far more than it saves on a one-pixel line: the vertical line goes in short pieces.
    constexpr int kRowsPerFill = 64;
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Difference);
    const QRect r = plotRect();
    // Two separate inversions, as two pen strokes: where the lines cross, the pixel is inverted
    // twice and keeps its colour.
    for (const QPoint& p : std::as_const(crosses_)) {
        if (!r.contains(p)) // the rectangle moved under it; the next move takes it away
            continue;
        painter.fillRect(QRect(r.left(), p.y(), r.width(), 1), Qt::white);
        for (int top = r.top(); top < r.top() + r.height(); top += kRowsPerFill)
            painter.fillRect(QRect(p.x(), top, 1, std::min(kRowsPerFill, r.top() + r.height() - top)), Qt::white);
    }
}

void CrossChart::mousePressEvent(QMouseEvent* event)
{
    // Ctrl + left drag draws a zoom box; a plain left drag pans.
    const bool box = event->button() == Qt::LeftButton && (event->modifiers() & Qt::ControlModifier);
    setSelectionRectMode(box ? QCP::srmZoom : QCP::srmNone);
    QCustomPlot::mousePressEvent(event);
}

void CrossChart::leaveEvent(QEvent* event)
{
    QCustomPlot::leaveEvent(event);
    emit pointerLeft();
}

} // namespace rawdat
