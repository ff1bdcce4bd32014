// The window on a real X server: convert the sample, put the pointer over the plot and keep a
// screenshot of the screen's pixels as build/artifacts/window.png.
#include "mainform/rawdat_window.h"
#include "mainform/status_panel.h"
#include "testutil.h"
#include "window_files.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <filesystem>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

class TestScreenshot : public QObject {
    Q_OBJECT

private slots:
    void windowAfterConvertingTheSample();
};

void TestScreenshot::windowAfterConvertingTheSample()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server");
    TempDir dir;
    // The bundled sample when there is one, else the tests' own scan.
    std::string dat;
    if (fs::exists(RAWDAT_SAMPLES))
        for (const auto& e : fs::directory_iterator(RAWDAT_SAMPLES)) {
            fs::copy_file(e.path(), dir.path() / e.path().filename());
            if (QString::fromStdString(e.path().extension().string()).compare(QLatin1String(".DAT"), Qt::CaseInsensitive) == 0)
                dat = (dir.path() / e.path().filename()).string();
        }
    if (dat.empty())
        dat = writeDatScan(dir.path().string());

    TRawDat w;
    w.setFileChooser([&](FileKind) { return std::optional<QString>(QString::fromStdString(dat)); });
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    BoxAnswerer boxes;
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("Bt_dat")), Qt::LeftButton);
    QVERIFY(boxes.seen.empty());
    QVERIFY(w.chart()->series()->data()->size() > 0);

    // The real pointer over the plot: the readout and the cross follow it.
    const QPoint target = w.chart()->plotRect().center() + QPoint(40, 30);
    QCursor::setPos(w.chart()->mapToGlobal(target));
    QTRY_VERIFY(w.crossShown());
    QCOMPARE(QPoint(w.lastX(), w.lastY()), target);
    QVERIFY(w.findChild<StatusPanel*>(QStringLiteral("StatusPanel1"))->text().startsWith(QStringLiteral("Cursor : 2\u03B8 ")));
    QTest::qWait(300);

    const QRect frame = w.frameGeometry();
    const QImage shot = w.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).toImage();
    QVERIFY(QDir().mkpath(QStringLiteral(RAWDAT_ARTIFACTS)));
    QVERIFY(shot.save(QStringLiteral(RAWDAT_ARTIFACTS "/window.png")));

    QCOMPARE(shot.size(), QSize(799, 521));
    // The pattern is on the screen: red pixels inside the plot (the line is antialiased).
    const QRect plot = w.chart()->plotRect().translated(w.chart()->mapTo(&w, QPoint(0, 0)));
    int red = 0;
    for (int y = plot.top(); y <= plot.bottom(); ++y)
        for (int x = plot.left(); x <= plot.right(); ++x)
            if (const QRgb c = shot.pixel(x, y); qRed(c) > 200 && qGreen(c) < 120 && qBlue(c) < 120)
                ++red;
    QVERIFY2(red > 100, qPrintable(QString::number(red)));
    // The cross inverts the white background along its lines: black pixels on the pointer's row.
    QCOMPARE(shot.pixel(plot.left() + 2, target.y() + w.chart()->mapTo(&w, QPoint(0, 0)).y()), qRgb(0, 0, 0));

    // The same at the smallest size and over the whole screen, to look at the layout: the plot
    // takes the room, the panel and the memo keep theirs.
    for (const auto& [name, size] : {std::pair{"window-minimum.png", w.minimumSize()},
                                     std::pair{"window-full.png", w.screen()->availableSize()}}) {
        w.resize(size);
        QTest::qWait(300);
        const QRect f = w.frameGeometry();
        QVERIFY(w.screen()->grabWindow(0, f.x(), f.y(), f.width(), f.height()).toImage().save(
            QStringLiteral(RAWDAT_ARTIFACTS "/") + QLatin1String(name)));
        QCOMPARE(w.chart()->width(), w.width() - w.filePanel()->width());
    }
}

QTEST_MAIN(TestScreenshot)
#include "test_screenshot.moc"
