// TRawDat: the conversion window. A thin front end over the conversion commands: it owns the
// state of the run and the format library object, asks the user through dialogs and message
// boxes, and shows the results in its memo, labels and plot.
#pragma once

#include "convert/session.h"
#include "mainform/chart.h"
#include "mainform/file_panel.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QActionGroup;
class QFileDialog;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

namespace rawdat {

class StatusPanel;

class TRawDat : public QMainWindow, private ConversionUi {
    Q_OBJECT

public:
    // Picks a file for a command: a full path, or nothing when the user cancels.
    using FileChooser = std::function<std::optional<QString>(FileKind)>;
    // Picks the file a picture of the plot is saved to (PNG or PDF by its extension).
    using SaveChooser = std::function<std::optional<QString>()>;

    explicit TRawDat(QWidget* parent = nullptr);
    ~TRawDat() override;

    // Replace the open dialogs OpenDAT and OpenRAW, and the save dialog of the plot's picture;
    // an empty function restores the dialog.
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    void setSaveChooser(SaveChooser chooser) { saveChooser_ = std::move(chooser); }
    // Replaces the save dialog of "Save data as…"; the name's extension (.xy, .xye, .csv) picks
    // the format, .xy when it has none of them.
    void setDataChooser(SaveChooser chooser) { dataChooser_ = std::move(chooser); }
    // The open dialog of a command, OpenDAT or OpenRAW, in the current folder. Made for one use:
    // a dialog kept between uses keeps its file-name completer, whose popup can still open after
    // the dialog has closed.
    std::unique_ptr<QFileDialog> makeOpenDialog(FileKind kind);

    // Converts the files as rawdat-convert would, behind a progress dialog (Convert files…).
    void convertFiles(const QStringList& paths);

    const TRawDatState& state() const { return state_; }
    CrossChart* chart() const { return Chart1; }
    // The file panel beside the plot, with its range selector (rangeChosen, setCurrentRange).
    FilePanel* filePanel() const { return FilePanel1; }
    int lastX() const { return LastX; }
    int lastY() const { return LastY; }
    bool crossShown() const { return CrossShown; }

    // The command a dropped file goes to, by its content as the converter decides it (or, when
    // that cannot tell, by its extension); nothing for a file that is neither a DAT nor a RAW
    // file. Raises a refusal for anything that is not a regular file.
    static std::optional<FileKind> kindOfFile(const QString& path);
    // Saves the plot as PNG, or as PDF or SVG when the name ends in .pdf or .svg, titled with the
    // name of the file in view; `pixels` and `dpi` as CrossChart::savePicture. False when it
    // could not be written.
    bool savePicture(const QString& path, QSize pixels = {}, int dpi = 96);

    // The ranges of the RAW file in view (0 for a DAT file) and the index of the one shown, in
    // file order from 0.
    int rangeCount() const;
    int rangeInView() const { return rangeInView_; }
    // Picks the files File > Add to plot… draws over the pattern; an empty function restores
    // the dialog.
    using OverlayChooser = std::function<QStringList()>;
    void setOverlayChooser(OverlayChooser chooser) { overlayChooser_ = std::move(chooser); }
    // Draws the patterns of DAT and RAW files, read as the commands read them and not converted,
    // over the pattern in view (a DAT without its calibration only over channels).
    void addToPlot(const QStringList& paths);

    // Opens the files one after the other, each by its content, as if they were dropped on the
    // window: the files named on the command line and the recent files.
    void openFiles(const QStringList& paths);
    // The recent files, the most recent first (at most kRecentFiles).
    static constexpr int kRecentFiles = 10;
    static QStringList recentFiles();

public slots:
    void FormCreate();
    void QuitClick();
    void Bt_datClick();
    void Bt_RAWClick();
    void Chart1DblClick();
    void Chart1MouseMove(int X, int Y);
    void DeleteCrossLines();
    // File > Save plot... and Help > About rawdat.
    void savePlotClick();
    void aboutClick();
    void convertFilesClick();
    // Tools > Calibrate from standard…: a DAT file of a measured standard, in CalibrateDialog.
    void calibrateClick();
    // Shows range k of the RAW file in view (an index in file order, from 0); nothing for another k.
    void showRange(int k);
    void addToPlotClick();
    void clearOverlay();
    // "Save data as…": the pattern in view as .xy, .xye or CSV.
    void saveDataAs();
    // File > Open…: a DAT or RAW file, each to its command by its content.
    void openClick();

signals:
    void rangeShown(int k);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // ConversionUi
    std::optional<std::string> chooseFile(FileKind kind) override;
    void clearMemo() override;
    void appendMemo(const std::string& line) override;
    void setLabel(LabelId label, const std::string& text) override;
    void clearPlot() override;
    void setPlotAxis(PlotAxis axis) override;
    void addPlotPoint(double x, double y) override;
    void plotFinished() override;
    bool askOverwrite(const std::string& path) override;
    bool askUsePreviousCalibration(const std::string& question) override;
    void reportError(const std::string& message) override;
    void keptExisting(const std::string& path) override;
    void fileRead(FileKind kind, const std::string& path) override;
    void fileNotOpened(const std::string& path) override;

    void buildControls();
    // The menu bar, the geometry of the last run, and what the window remembers (rawdat_menus.cpp).
    void buildMenus();
    void restoreGeometryOfLastRun();
    void fillRecentMenu();
    static void addRecentFile(const QString& path);
    static QString dialogFolder(const QString& dialog);
    static void rememberFolder(const QString& dialog, const QString& file);
    // The readout of the pointer's position, also when the view moves under a still pointer.
    void showReadout(int X, int Y);
    void refreshReadout();
    // The status bar's message after a command: what was written, kept, or why nothing was.
    void showOutcome(bool ok);
    // Where a save dialog opens and the name it suggests: NAME.`suffix` in the shown file's
    // folder, or the dialog's last folder before any file is shown.
    QString suggestedSave(const QString& dialog, const QString& suffix) const;
    std::optional<QString> showOpenDialog(FileKind kind);
    // Runs one command; nothing happens while another is running.
    void runCommand(bool (TConversion::*command)());
    void showPlot();
    void pointerLeftChart();
    void chartContextMenu(const QPoint& pos);
    std::optional<QString> showSaveDataDialog();
    // The View menu and the plot's entries of the File menu (plot_menu.cpp).
    void addPlotActions(QMenu* file);
    void buildViewMenu();
    void updateViewMenu();
    void setScaleClick(IntensityScale scale);
    // The readout of the data point nearest to the pointer.
    QString readoutText(int X, int Y) const;
    // The pattern in view as the text exports hold it: of the range shown, or of the last
    // two-column file.
    XyPattern patternInView() const;
    QString titleOfView() const;
    // The size in pixels and the resolution of a PNG picture; false when the user cancels.
    bool askPictureSize(QSize& pixels, int& dpi);
    // Runs the dropped files' commands, one after the other.
    void processDropQueue();

    // Controls, in the order of the window's fields; the open dialogs are made for each use.
    CrossChart* Chart1 = nullptr;
    QCPGraph* Series1 = nullptr;
    QWidget* ToolBar1 = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* Quit = nullptr;
    QPushButton* Bt_dat = nullptr;
    PathLabel* Lb_dat = nullptr;
    QPushButton* Bt_RAW = nullptr;
    PathLabel* Lb_raw = nullptr;
    QPlainTextEdit* Mem = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    StatusPanel* StatusPanel1 = nullptr;
    StatusPanel* Message1 = nullptr; // what the last command did
    FilePanel* FilePanel1 = nullptr;

    // The cross of the plot.
    qint32 LastX = 0;
    qint32 LastY = 0;
    bool CrossShown = false;

    TRawDatState state_;
    TLitdat Litdat;
    TConversion conversion_{state_, Litdat, *this};

    FileChooser chooser_;
    SaveChooser saveChooser_;
    SaveChooser dataChooser_;
    QVector<QCPGraphData> pending_;     // points of the plot being built
    bool plotPending_ = false;          // the plot was cleared and not shown again yet
    bool busy_ = false;
    bool placed_ = false;               // the outer frame was sized once
    std::optional<QString> given_;      // the file the next command takes without a dialog
    std::optional<std::string> kept_;   // the output the user chose to keep in this command
    std::optional<bool> previousCalibration_; // the answer about the calibration read before
    std::optional<QString> failure_;    // why the command in progress stopped
    bool read_ = false;                 // the command in progress read its file
    QStringList dropQueue_;
    QMenu* recentMenu_ = nullptr;
    QPoint pointer_;                    // where the pointer last moved over the plot
    bool pointerOverChart_ = false;

    // The plot's menus and what they show.
    OverlayChooser overlayChooser_;
    bool commandIsRaw_ = false;         // the running command is the RAW command
    bool rawInView_ = false;            // the pattern in view is a RAW file's
    int rangeInView_ = 0;
    QString fileInView_;                // its name, without the folder
    IntensityScale previousScale_ = IntensityScale::Linear; // what Ctrl+L goes back to
    QActionGroup* scaleGroup_ = nullptr;
    QActionGroup* unitGroup_ = nullptr;
    QAction* nextRange_ = nullptr;
    QAction* previousRange_ = nullptr;
    QAction* saveData_ = nullptr;
    QAction* clearOverlay_ = nullptr;
};

} // namespace rawdat
