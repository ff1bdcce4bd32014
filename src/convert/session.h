// The window's shared state and its two commands, as plain C++. The window and the command-line
// converter are thin front ends: they supply a ConversionUi (how to ask the user and how to show
// results) and own one TRawDatState (the window for the whole run, the converter one per file).
#pragma once

#include "convert/xy_export.h"
#include "fmt_raw/raw.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/records.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace rawdat {

enum class FileKind { Dat, Raw };
enum class LabelId { Dat, Raw };

// How a command talks to the user. Texts are Windows-1252 bytes as the files hold them.
class ConversionUi {
public:
    virtual ~ConversionUi() = default;
    // The open dialog of the command: a full path, or nullopt when the user cancels.
    virtual std::optional<std::string> chooseFile(FileKind kind) = 0;
    virtual void clearMemo() = 0;
    virtual void appendMemo(const std::string& line) = 0;
    virtual void setLabel(LabelId label, const std::string& text) = 0;
    virtual void clearPlot() = 0;
    virtual void addPlotPoint(double x, double y) = 0;
    // Called once after the points of one plot have been added.
    virtual void plotFinished() {}
    // Asked only when the file exists and opens for writing: "file already exists. erase?"
    virtual bool askOverwrite(const std::string& path) = 0;
    // An error that ended a command.
    virtual void reportError(const std::string& message) = 0;
};

// The state of the running program, zero or empty at start.
struct TRawDatState {
    std::string DatFileName;
    std::string RawFileName;
    std::string CalFileName;
    bool CalibOK = false;
    std::unique_ptr<TSingleArray> TabX = std::make_unique<TSingleArray>();
    std::unique_ptr<TSingleArray> TabY = std::make_unique<TSingleArray>();
    std::unique_ptr<TData> Data; // allocated on first use by a command
    TScanHeader Header;
    TScanParams Params;
    TCalibration Calibration;
    bool CalibEverRead = false; // a calibration file has been read since the start
    RawModule Raw;              // RangeInfo and AnodeIndex of the RAW module
    // The pattern the last command wrote to its two-column file, for the text exports; no
    // points while a command has read its file and written no two-column file.
    XyPattern LastPattern;
};

class TConversion {
public:
    TConversion(TRawDatState& state, TLitdat& litdat, ConversionUi& ui) : s_(state), lit_(litdat), ui_(ui) {}

    // The two commands. Errors (file, floating-point, refusals) propagate to the caller.
    void Bt_datClick();
    void Bt_RAWClick();
    // The same, with an error that escapes the command handed to ui.reportError(); returns
    // false when the command ended with an error.
    bool runDat();
    bool runRaw();

    // True when `name` may be written: it does not open for writing, or the user says yes.
    bool ConfirmOverwrite(const std::string& name);

    // The first steps of each command, up to and including the memo lines, for a path already
    // chosen: the DAT command's read of the file and its calibration (false: "file not opened"),
    // and the RAW command's read. `info` of the command-line converter stops here.
    bool loadDat(const std::string& path);
    void loadRaw(const std::string& path);

private:
    bool runGuarded(void (TConversion::*command)());
    void plotDat();
    void convertDat();
    void plotAndExportRaw();
    void allocateData();

    TRawDatState& s_;
    TLitdat& lit_;
    ConversionUi& ui_;
};

// "C:\data\S1.RAW" -> "C:\data\S1.2CL": the last three characters replaced by `ext`.
std::string replaceExtension(const std::string& name, const char* ext);

// Header texts are Windows-1252 bytes; front ends that show them decode them with this.
std::string windows1252ToUtf8(std::string_view text);

// The two-column file: `name` less its last three characters, followed by 2CL; n points.
void Ecr_2CL(const std::string& name, const TSingleArray& X, const TSingleArray& Y, int n);

} // namespace rawdat
