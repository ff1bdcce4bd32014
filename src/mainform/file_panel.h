// The panel beside the plot: what the window knows of the file in view. Its kind and path, the
// header's date, sample, comments and wavelength, each range's grid, the calibration of a DAT
// file, and the files the last command wrote.
#pragma once

#include <QHash>
#include <QLabel>
#include <QScrollArea>
#include <QString>

class QComboBox;
class QGridLayout;

namespace rawdat {

struct TRawDatState;

// A path shown whole when it fits, elided in the middle when it does not, whole in its tooltip.
class PathLabel : public QLabel {
    Q_OBJECT

public:
    explicit PathLabel(QWidget* parent = nullptr);
    const QString& path() const { return path_; }
    void setPath(const QString& path);
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString path_;
};

class FilePanel : public QScrollArea {
    Q_OBJECT

public:
    explicit FilePanel(QWidget* parent = nullptr);

    // Shows the file the state describes (nothing before the first file is read).
    void showState(const TRawDatState& state);
    // The range selector: n ranges, range k (from 0) in view. Setting them does not emit
    // rangeChosen; only the user's choice does.
    void setRangeCount(int n);
    void setCurrentRange(int k);
    int rangeCount() const;
    int currentRange() const;
    // The text of a row ("Sample", "Start"...), empty when the row is hidden; for the tests.
    QString value(const QString& row) const;

signals:
    void rangeChosen(int k);

private:
    QLabel* addRow(const QString& name);
    void setRow(QLabel* row, const QString& text);
    void showRange(int k);

    void addField(const QString& name, QWidget* field);
    void setRowVisible(QWidget* field, bool visible);
    bool isRowVisible(QWidget* field) const;

    QGridLayout* form_ = nullptr;
    QLabel* kind_ = nullptr;
    PathLabel* path_ = nullptr;
    QLabel* date_ = nullptr;
    QLabel* sample_ = nullptr;
    QLabel* comments_ = nullptr;
    QLabel* wavelength_ = nullptr;
    QLabel* anode_ = nullptr;
    QComboBox* ranges_ = nullptr;
    QLabel* start_ = nullptr;
    QLabel* step_ = nullptr;
    QLabel* points_ = nullptr;
    QLabel* stepTime_ = nullptr;
    QLabel* end_ = nullptr;
    QLabel* calibration_ = nullptr;
    QLabel* channels_ = nullptr;
    QLabel* written_ = nullptr;
    QLabel* folder_ = nullptr;
    // The grid of each range of the file in view: start, step, points, time per step.
    struct Grid {
        double start, step;
        int points;
        double stepTime;
    };
    QList<Grid> grids_;
    QHash<QString, QWidget*> rows_;   // the fields, by the row's name
    QHash<QWidget*, QLabel*> names_;  // the name beside each field
};

} // namespace rawdat
