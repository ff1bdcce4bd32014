// Files and gestures for the window tests and benchmarks: a DAT scan with its calibration, RAW
// scans, and a watcher that answers the window's modal message boxes.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace rawdat::test {

// The DAT scan of the tests: 4096 channels, two peaks over a background of 100 counts, the
// calibration name TESTCAL, the acquisition time 300 s and the wavelength 1.5406.
inline constexpr int kDatChannels = 4096;
std::vector<std::int32_t> datCounts();
// `s` padded with spaces to `width` characters.
std::string padded(const std::string& s, std::size_t width);
// Writes the DAT scan to `folder`/`name`, and TESTCAL.CAL beside it when `withCal`: a straight
// spline from channel 50 to 4000 at 10 + channel / 100 degrees. Returns the DAT path.
std::string writeDatScan(const std::string& folder, const std::string& name = "S1.DAT", bool withCal = true);
// The angle the test calibration gives a channel.
double testAngle(int channel);

// Writes a RAW2 scan of counts.size() steps from `start` by `step`. Returns its path.
std::string writeRawScan(const std::string& folder, const std::string& name, float start, float step,
                         const std::vector<std::int32_t>& counts);
// Counts of a RAW scan of n steps: a peak of 1000 at the middle over 50.
std::vector<std::int32_t> rawCounts(int n);

// Sends a plain mouse move (no button) to `w` at `pos`, and the pointer leaving `w`.
void moveMouse(QWidget* w, QPoint pos);
void leaveWidget(QWidget* w);

// What a modal message box showed.
struct BoxSeen {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QString defaultButton;
    QString escapeButton;
};

// While it lives, answers every modal message box of the application, in order, with the next
// of `answers`: the text of a button to click, or "Enter", "Escape" or "Close" (the title bar's
// close). A box beyond the answers is answered with Escape.
class BoxAnswerer : public QObject {
    Q_OBJECT
public:
    explicit BoxAnswerer(QStringList answers = {});
    void setAnswers(QStringList answers) { answers_ = std::move(answers); }
    std::vector<BoxSeen> seen;
    // Called with each box before it is answered.
    std::function<void(QMessageBox*)> onBox;

private:
    void poll();
    QStringList answers_;
    QTimer timer_;
};

} // namespace rawdat::test
