#include "mainform/chart.h"

#include <QPainter>

namespace rawdat {

CrossChart::CrossChart(QWidget* parent) : QCustomPlot(parent)
{
    setMouseTracking(true);
    legend->setVisible(false);

    plotLayout()->insertRow(0);
    auto* title = new QCPTextElement(this, QStringLiteral("TChart"));
    title->setObjectName(QStringLiteral("ChartTitle"));
    plotLayout()->addElement(0, 0, title);

    series_ = addGraph(xAxis, yAxis);
    series_->setName(QStringLiteral("Series1"));
    series_->setPen(QPen(Qt::red));
    series_->setLineStyle(QCPGraph::lsLine);
    series_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));

    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
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
    QCustomPlot::paintEvent(event);
    if (crosses_.isEmpty())
        return;
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Difference);
    const QRect r = plotRect();
    // Two separate inversions, as two pen strokes: where the lines cross, the pixel is inverted
    // twice and keeps its colour.
    for (const QPoint& p : std::as_const(crosses_)) {
        painter.fillRect(QRect(r.left(), p.y(), r.width(), 1), Qt::white);
        painter.fillRect(QRect(p.x(), r.top(), 1, r.height()), Qt::white);
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
