// The window's shared state and its two commands, as plain C++. The window and the command-line
// converter are thin front ends: they supply a ConversionUi (how to ask the user and how to show
// results) and own one TRawDatState (the window for the whole run, the converter one per file).
#pragma once

#include "convert/xy_export.h"
#include "fmt_raw/raw.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/names.h"
#include "ulit_dat/records.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rawdat {

namespace fsio {
class OutputGroup;
}

enum class FileKind { Dat, Raw };
enum class LabelId { Dat, Raw };
// What the x values of a plot are: angles, or the channel numbers of a DAT file plotted without
// a calibration.
enum class PlotAxis { TwoTheta, Channel };

// What a file holds, by its first bytes: RAW files begin with "RAW", DAT files with the bytes
// 0x4B 0x02, CAL files with 0x4B 0x64; otherwise its extension decides. Anything that exists and
// is not a regular file is refused ("not a regular file") without being opened.
enum class ContentKind { Dat, Raw, Cal, Fdt, Dtb, Unknown };
ContentKind kindOf(const std::string& path);
// The same from the file's first bytes (nullopt: it could not be opened).
ContentKind kindOf(const std::string& path, const std::optional<Bytes>& head);
// How many first bytes kindOf and calibrationOfDat need.
inline constexpr std::size_t kHeadSize = 512;

// Where conversions read and write, beyond what the input's path says. Empty fields: the
// calibration the DAT header names, beside the DAT file; outputs beside the input.
// `also`: text exports written beside the usual outputs, of the pattern each two-column file
// holds (NAME.xy, NAME.xye, NAME.csv; NAME_k.xy ... for the other ranges of a RAW file).
struct ConversionOptions {
    std::string outputDir;
    std::string calibration;
    std::vector<XyFormat> also; // text exports written beside the usual outputs
    bool dryRun = false;        // convert in memory, write nothing
    // What becomes of an output that exists: the user is asked (ConversionUi::askOverwrite); it
    // is kept however late it appeared, and nothing of the file is written
    // (ConversionUi::keptExisting); it is replaced without asking.
    enum class Existing { Ask, Keep, Replace };
    Existing existing = Existing::Ask;
    // The batch plan has already refused outputs that would replace an input or a calibration.
    bool planned = false;
};

// One file a conversion writes. The outputs of one conversion replace their files together.
enum class OutputKind { Raw, Txt, TwoColumn, Xy, Xye, Csv, Instprm };
struct PlannedOutput {
    OutputKind kind;
    std::string path;
    std::size_t range = 0; // of a RAW file: the range it holds, an index in file order
};
// The outputs of converting `input` (a DAT or RAW file), in the order they are put in place: a
// DAT file gives NAME.RAW and NAME.2CL, a RAW file NAME.TXT and NAME.2CL of its main range, then
// NAME_k.TXT and NAME_k.2CL of each other range k (numbered from 1 in file order); each
// two-column file is followed by the exports of options.also. The first is the one the window
// asks about, and the one whose presence means the file was converted: it is put in place last. Decided from the name and, for a RAW file, its count of ranges (RawRangeCount).
std::vector<PlannedOutput> plannedOutputs(FileKind kind, const std::string& input,
                                          const ConversionOptions& options = {});
// The same for a RAW file whose ranges are known.
std::vector<PlannedOutput> plannedOutputs(const std::string& input, const ConversionOptions& options,
                                          TRangeCount ranges);
// The calibration file a DAT file uses, given its header's calibration name (the nine characters
// of CalName): the base name without spaces followed by ".CAL", looked up beside the DAT file in
// any letter case, or options.calibration when set.
std::string calibrationOfDat(const std::string& dat, std::string_view calName,
                             const ConversionOptions& options = {});
// The calibration base name: the first nine characters of CalName without spaces (and zero bytes).
std::string calibrationBase(std::string_view calName);

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
    // Said after clearPlot, before the points: what their x values are.
    virtual void setPlotAxis(PlotAxis) {}
    virtual void addPlotPoint(double x, double y) = 0;
    // Called once after the points of one plot have been added.
    virtual void plotFinished() {}
    // Asked only when the file exists and opens for writing: "file already exists. erase?"
    virtual bool askOverwrite(const std::string& path) = 0;
    // Asked when the calibration a DAT file names cannot be read and another was read before
    // (TRawDatState::LastCalibPath): true converts with that one, and the front end says so once
    // the command has written its files. Asked before anything is written and before any
    // overwrite question; a no ends the command quietly. Without a user the answer is no.
    virtual bool askUsePreviousCalibration(const std::string& /*question*/) { return false; }
    // How the user of this front end gives a DAT file a calibration of its choice, said when one
    // is refused for want of a calibration ("use --cal FILE to give one"); empty when there is
    // no such way.
    virtual std::string calibrationAdvice() const { return {}; }
    // An error that ended a command.
    virtual void reportError(const std::string& message) = 0;
    // A sentence about a conversion that succeeded (which files hold the ranges of a RAW file):
    // one more memo line unless the front end shows it otherwise.
    virtual void notice(const std::string& text) { appendMemo(text); }
    // Without replacing, `path` was found to exist when the outputs were put in place: nothing of
    // the file was written.
    virtual void keptExisting(const std::string& path) { notice("kept existing " + path); }
    // A command's file was read: the state now describes it (TRawDatState::Shown).
    virtual void fileRead(FileKind, const std::string& /*path*/) {}
    // The DAT command's file could not be opened; the state still describes the previous file.
    virtual void fileNotOpened(const std::string& /*path*/) { appendMemo("file not opened"); }
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
    // The full path of the last calibration file read since the start; empty before the first.
    // Only the user's yes lets it stand in for a DAT file's own calibration that cannot be read.
    std::string LastCalibPath;
    RawModule Raw;              // RangeInfo and AnodeIndex of the RAW module
    // The pattern the last command wrote to its two-column file, for the text exports; no
    // points while a command has read its file and written no two-column file.
    XyPattern LastPattern;
    // The file the records describe (the last one read, empty before the first), for a front end
    // that shows them: its kind, the channels of a DAT file as read and the calibrated channels
    // its conversion used (0 before it), and the files the last command wrote of it, as
    // plannedOutputs lists them (the main output first).
    struct ShownFile {
        std::string Path;
        FileKind Kind = FileKind::Dat;
        int Channels = 0;
        int FirstChannel = 0;
        int LastChannel = 0;
        std::vector<std::string> Written;
    } Shown;
};

class TConversion {
public:
    TConversion(TRawDatState& state, TLitdat& litdat, ConversionUi& ui, ConversionOptions options = {})
        : s_(state), lit_(litdat), ui_(ui), options_(std::move(options))
    {
    }

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
    // The pattern as read, against the angles of the calibration record, or against channel
    // numbers.
    void plotDat(bool inAngles);
    // Why the current DAT file's calibration was not read, naming the DAT file as `dat`: "C.CAL
    // was not found beside it".
    std::string calibrationMissing(const std::string& dat) const;
    void convertDat(const std::vector<PlannedOutput>& outputs);
    void plotAndExportRaw();
    // Adds the outputs of range r of a RAW file, built from its records (x and y: its grid and
    // counts; text: whether its text file is written), to `group`; returns its export pattern.
    // With `textBytes`, the text file's bytes go there instead of into the group.
    XyPattern addRangeOutputs(fsio::OutputGroup& group, std::span<const PlannedOutput> outputs,
                              std::size_t r, const TScanHeader& header, const TScanParams& params,
                              const TRangeInfo& range, const TData& data, const TSingleArray& x,
                              const TSingleArray& y, bool text, std::string* textBytes = nullptr);
    void allocateData();
    // Refuses, before the user is asked anything and before any byte is written, outputs that
    // would replace the input or its calibration, or that exist and are not regular files.
    void checkOutputs(const std::vector<PlannedOutput>& outputs, const std::string& input,
                      const std::string& calibration) const;
    // Runs calibration arithmetic; a floating-point error names the calibration.
    template <class Work> void withCalibration(Work&& work);

    TRawDatState& s_;
    TLitdat& lit_;
    ConversionUi& ui_;
    ConversionOptions options_;
    std::string calibrationPath_; // the calibration file of the current DAT file
};

// Range k (an index into s.Raw.Ranges) of the RAW file `s` last read, as its text exports hold
// it: its grid in x[1..n] and counts in y[1..n], n the pattern's count of points.
XyPattern rawRangePattern(const TRawDatState& s, std::size_t k, TSingleArray& x, TSingleArray& y);

// Header texts are Windows-1252 bytes; front ends that show them decode them with this.
std::string windows1252ToUtf8(std::string_view text);

// The two-column file: `name` with its extension replaced by 2CL; n points.
void Ecr_2CL(const std::string& name, const TSingleArray& X, const TSingleArray& Y, int n);
// The text Ecr_2CL writes; `file` names the file in a refusal.
std::string twoColumnBytes(const std::string& file, const TSingleArray& X, const TSingleArray& Y, int n);

} // namespace rawdat
