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
// held draws a box and zooms to it; + and - zoom, the arrows pan, Home shows all. Zoom and pan
// stop at a margin around the data: no negative angle or count is shown unless the data have one.
//
// The patterns are kept as read (2-theta or channel, counts); the series hold them in the units
// of the axes: x as 2-theta, d or Q, y as counts, their square roots, or counts on a log axis
// where counts below kLogFloor are drawn at kLogFloor.
#pragma once

#include <qcustomplot.h>

#include <QList>
#include <QPoint>
#include <QRect>

#include <optional>
#include <vector>

namespace rawdat {

enum class IntensityScale { Linear, SquareRoot, Log };
enum class XUnit { TwoTheta, D, Q };

// A point of a pattern as read: its x (2-theta, or channel) and counts.
struct PatternPoint {
    double x = 0;
    double counts = 0;
};

class CrossChart : public QCustomPlot {
    Q_OBJECT

public:
    // Counts below this are drawn at it on the log axis.
    static constexpr double kLogFloor = 0.5;

    explicit CrossChart(QWidget* parent = nullptr);

    QCPGraph* series() const { return series_; }
    // The bottom axis's label names what x holds: "2θ (°)", d, Q, or "Channel" for channel numbers.
    void setChannelAxis(bool channels);
    bool channelAxis() const { return channels_; }

    // The pattern of the series, x ascending, and its wavelength in angstroms (0: unknown). Shows
    // all, as a double-click does.
    void setPattern(const QVector<QCPGraphData>& points, double wavelength);
    const std::vector<PatternPoint>& pattern() const { return main_.points; }
    double wavelength() const { return main_.wavelength; }
    // The series' name in the legend.
    void setPatternName(const QString& name);

    void setScale(IntensityScale scale);
    IntensityScale scale() const { return scale_; }
    // d and Q need angles and a wavelength; false (and nothing changes) without them.
    bool setXUnit(XUnit unit);
    XUnit xUnit() const { return unit_; }
    bool xUnitsAvailable() const { return !channels_ && main_.wavelength > 0; }
    // x of a 2-theta angle in `unit`, with the wavelength `lambda`; nothing where it has none.
    static std::optional<double> xOf(double twoTheta, XUnit unit, double lambda);

    // Patterns drawn over the series, each in its own colour, with a legend.
    void addOverlay(const QString& name, const QVector<QCPGraphData>& points, double wavelength);
    void clearOverlay();
    int overlayCount() const { return static_cast<int>(overlays_.size()); }

    // The first view: x over the data, y from 0 (or the lowest count below 0) to 5% above the
    // highest; 0 to 1 when every count is 0. False, and nothing changes, without data. No replot.
    bool showAll();
    // The point of the series nearest to the pixel column x; nothing without data.
    std::optional<PatternPoint> nearestPoint(int x) const;
    // Whether a count of the series has decimals.
    bool countsHaveDecimals() const { return main_.decimals; }
    // The note over the plot ("All counts are zero."), empty when there is none.
    QString note() const;

    // Saves a picture titled `title`: PDF, SVG or PNG by the name's extension. `pixels` is the
    // picture's size (the plot's size when empty) and `dpi` the resolution: fonts and lines keep
    // their size in print, so 300 dpi draws them three times as many pixels wide as 100 dpi.
    bool savePicture(const QString& path, const QString& title, QSize pixels = {}, int dpi = 96);
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
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Pattern {
        std::vector<PatternPoint> points;
        double wavelength = 0;
        bool decimals = false;
        QCPGraph* graph = nullptr;
        std::vector<int> source; // of each point of the graph, its index in `points`
    };
    void setPoints(Pattern& p, const QVector<QCPGraphData>& points, double wavelength);
    // Fills the graph of `p` in the axes' units.
    void rebuild(Pattern& p);
    void rebuildAll();
    double valueOf(double counts) const;
    void updateAxes();
    void updateNote();
    std::optional<QCPRange> fullValueRange() const;
    std::optional<QCPRange> fullKeyRange() const;
    void updateStrips(QPoint p);
    void paintCrosses();
    static void keepWithin(QCPAxis* axis, const QCPRange& range, const std::optional<QCPRange>& limits);

    QCPGraph* series_ = nullptr;
    QList<QPoint> crosses_;
    std::optional<QCPRange> keyLimits_;
    std::optional<QCPRange> valueLimits_;
    bool channels_ = false;
    IntensityScale scale_ = IntensityScale::Linear;
    XUnit unit_ = XUnit::TwoTheta;
    Pattern main_;
    std::vector<Pattern> overlays_;
    QCPItemText* note_ = nullptr;
};

} // namespace rawdat
