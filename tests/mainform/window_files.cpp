#include "window_files.h"

#include "fmt_raw/raw.h"
#include "ulit_dat/litdat.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <filesystem>
#include <memory>

namespace {

// Every program that drives the window keeps the window's settings in a temporary folder of its
// own, removed at its end: the user's settings are never read or written.
void windowSettingsInTemporaryFolder()
{
    static QTemporaryDir folder;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(windowSettingsInTemporaryFolder)

namespace rawdat::test {

namespace {
std::string inFolder(const std::string& folder, const std::string& name)
{
    return (std::filesystem::path(folder) / name).string();
}
} // namespace

std::string padded(const std::string& s, std::size_t width) { return s + std::string(width - s.size(), ' '); }

std::vector<std::int32_t> datCounts()
{
    std::vector<std::int32_t> c(kDatChannels);
    for (int i = 1; i <= kDatChannels; ++i) {
        const double a = (i - 1000) / 20.0;
        const double b = (i - 2500) / 15.0;
        c[static_cast<std::size_t>(i - 1)] =
            static_cast<std::int32_t>(std::lround(100 + 900 * std::exp(-a * a) + 500 * std::exp(-b * b)));
    }
    return c;
}

double testAngle(int channel) { return 10 + channel / 100.0; }

std::string writeDatScan(const std::string& folder, const std::string& name, bool withCal)
{
    TLitdat lit;
    TScanHeader h;
    TScanParams p;
    auto data = std::make_unique<TData>();
    const auto counts = datCounts();
    h.Size = kDatChannels;
    // The instrument pads its texts with spaces.
    h.Comment1 = padded("sample \x93" "A\x94 5\xb5m", 80);
    h.Comment2 = padded("second", 80);
    h.Comment3 = padded("third", 80);
    h.Date = "12/03/98 14:25:36";
    h.Wavelength = 1.5406;
    h.Voltage = "40";
    h.Current = "30";
    h.CalName = padded("TESTCAL", 9);
    p.AcqTime = 300;
    for (int i = 1; i <= kDatChannels; ++i)
        (*data)[i] = counts[static_cast<std::size_t>(i - 1)];
    const std::string dat = inFolder(folder, name);
    lit.Ecr_DAT(dat, h, p, *data);

    if (withCal) {
        TCalibration cal;
        cal.CalWavelength = 1.5406;
        cal.SplineFlag = 1;
        const double knots[] = {0.05, 1.0, 2.0, 3.0, 4.0};
        cal.KnotCount = 5;
        for (int k = 1; k <= 5; ++k) {
            cal.KnotPos[k] = knots[k - 1];
            cal.KnotAngle[k] = 10 + 10 * knots[k - 1];
            cal.SplineB[k] = 10; // degrees per 1000 channels
        }
        lit.Ecr_CAL(inFolder(folder, "TESTCAL.CAL"), cal);
    }
    return dat;
}

std::vector<std::int32_t> rawCounts(int n)
{
    std::vector<std::int32_t> c(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double a = (i - n / 2) / 10.0;
        c[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(std::lround(50 + 950 * std::exp(-a * a)));
    }
    return c;
}

std::string writeRawScan(const std::string& folder, const std::string& name, float start, float step,
                         const std::vector<std::int32_t>& counts)
{
    RawModule m;
    TScanHeader h;
    auto data = std::make_unique<TData>();
    h.Size = static_cast<std::int32_t>(counts.size());
    h.Date = "12/03/98 14:25:36";
    h.Wavelength = 1.5406;
    h.Comment1 = "raw test";
    m.RangeInfo.Start = start;
    m.RangeInfo.Step = step;
    m.RangeInfo.StepTime = 1;
    for (std::size_t i = 0; i < counts.size(); ++i)
        (*data)[static_cast<int>(i) + 1] = counts[i];
    const std::string path = inFolder(folder, name);
    Ecr_RAW(m, path, h, *data);
    return path;
}

void moveMouse(QWidget* w, QPoint pos)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(pos), w->mapToGlobal(QPointF(pos)), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void leaveWidget(QWidget* w)
{
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

BoxAnswerer::BoxAnswerer(QStringList answers) : answers_(std::move(answers))
{
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::poll);
    timer_.start(5);
}

void BoxAnswerer::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    // Boxes live on the stack of the command: a new box may take an old one's address.
    if (!box || !box->isVisible() || box->property("answered").toBool())
        return;
    box->setProperty("answered", true);
    BoxSeen s;
    s.title = box->windowTitle();
    s.text = box->text();
    s.icon = box->icon();
    for (QAbstractButton* b : box->buttons())
        s.buttons << b->text();
    s.buttons.sort();
    if (box->defaultButton())
        s.defaultButton = box->defaultButton()->text();
    if (box->escapeButton())
        s.escapeButton = box->escapeButton()->text();
    seen.push_back(s);
    if (onBox)
        onBox(box);

    const QString answer = answers_.isEmpty() ? QStringLiteral("Escape") : answers_.takeFirst();
    if (answer == QLatin1String("Enter")) {
        QTest::keyClick(box, Qt::Key_Return);
    } else if (answer == QLatin1String("Escape")) {
        QTest::keyClick(box, Qt::Key_Escape);
    } else if (answer == QLatin1String("Close")) {
        box->close();
    } else {
        for (QAbstractButton* b : box->buttons())
            if (b->text() == answer)
                b->click();
    }
}

} // namespace rawdat::test
