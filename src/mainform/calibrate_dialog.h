// Tools > Calibrate from standard…: the detector's calibration from a measured standard, shown
// as it is made. The pattern with the matched reflections marked by their hkl and the other
// peaks in another colour, the residuals below it; Save CAL writes NAME.CAL beside the DAT file
// under the converter's rules, and Convert converts the DAT file with it.
#pragma once

#include "calibrate/calibrate.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QComboBox;
class QCustomPlot;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

namespace rawdat {

class CalibrateDialog : public QDialog {
    Q_OBJECT
public:
    explicit CalibrateDialog(const QString& datPath, QWidget* parent = nullptr);

    // Asked when a file to be written exists: true replaces it. A question box when not set.
    std::function<bool(const QString& path)> askReplace;
    // Picks the d-spacing list of "d-spacings file…"; an open dialog when not set.
    std::function<std::optional<QString>()> chooseLines;

    const calib::Result& result() const { return result_; }
    // NAME.CAL beside the DAT file.
    QString calPath() const { return calPath_; }

public slots:
    // Calibrates with the standard and the wavelength chosen.
    void calibrateNow();
    // Writes the calibration made; true when it was written.
    bool saveCal();
    // Converts the DAT file with the calibration saved (NAME.RAW, NAME.2CL); true when converted.
    bool convertWithCal();

signals:
    // The DAT file was converted into `rawPath`.
    void converted(const QString& rawPath);

private:
    void showResult();
    bool replaceAsked(const QString& path);

    QString datPath_, calPath_;
    calib::Counts counts_;
    calib::Result result_;
    QComboBox* standard_ = nullptr;
    QDoubleSpinBox* wavelength_ = nullptr;
    QLabel* summary_ = nullptr;
    QCustomPlot* pattern_ = nullptr;
    QCustomPlot* residuals_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* convert_ = nullptr;
};

} // namespace rawdat
