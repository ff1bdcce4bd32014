#include "mainform/chart.h"

#include <QPainter>
#include <QPaintEvent>

#include <algorithm>

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

    setChannelAxis(false);
    yAxis->setLabel(QStringLiteral("Intensity (counts)"));

    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    connect(xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& r) { keepWithin(xAxis, r, keyLimits_); });
    connect(yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& r) { keepWithin(yAxis, r, valueLimits_); });
}

void CrossChart::setChannelAxis(bool channels)
{
    xAxis->setLabel(channels ? QStringLiteral("Channel") : QStringLiteral("2\u03B8 (\u00B0)"));
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
    bool keys = false;
    bool values = false;
    const QCPRange keyRange = series_->getKeyRange(keys);
    const QCPRange valueRange = series_->getValueRange(values);
    keyLimits_ = withMargin(keyRange, keys);
    valueLimits_ = withMargin(valueRange, values);
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
