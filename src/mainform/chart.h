// The plot of the window: a QCustomPlot with one red line series, a title row for the file name,
// and a cross of inverted pixels painted over the cached plot.
//
// The cross behaves like lines drawn with an inverting pen: inverting the same cross twice
// restores the picture. The crosses are kept as a list of positions and painted with
// CompositionMode_Difference and a white pen after the plot's buffers are blitted, so a cross
// survives replots (it is painted again over the new plot, across the new plotting rectangle)
// and showing or erasing one repaints only its two one-pixel strips; nothing is replotted.
//
// Gestures: the wheel zooms both axes at the pointer, a left drag pans, a left drag with Ctrl
// held draws a box and zooms to it. Zoom and pan stop at a margin around the data: no negative
// angle or count is shown unless the data have one.
#pragma once

#include <qcustomplot.h>

#include <QList>
#include <QPoint>
#include <QRect>

#include <optional>

namespace rawdat {

class CrossChart : public QCustomPlot {
    Q_OBJECT

public:
    explicit CrossChart(QWidget* parent = nullptr);

    QCPGraph* series() const { return series_; }
    // The bottom axis's label names what x holds: "2θ (°)", or "Channel" for channel numbers.
    void setChannelAxis(bool channels);
    // The plotting rectangle: left and top inside, right and bottom just outside.
    QRect plotRect() const;
    // Inverts the horizontal line at y across the plotting rectangle and the vertical line at x
    // across its height; doing it again at the same place restores the pixels.
    void invertCross(int x, int y);
    const QList<QPoint>& crosses() const { return crosses_; }
    // Takes the limits of zoom and pan from the series' data; none while it holds no point.
    void updateViewLimits();

signals:
    void pointerLeft();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void updateStrips(QPoint p);
    void paintCrosses();
    static void keepWithin(QCPAxis* axis, const QCPRange& range, const std::optional<QCPRange>& limits);

    QCPGraph* series_ = nullptr;
    QList<QPoint> crosses_;
    std::optional<QCPRange> keyLimits_;
    std::optional<QCPRange> valueLimits_;
};

} // namespace rawdat
