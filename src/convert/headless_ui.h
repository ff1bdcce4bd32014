// A ConversionUi without a user, for the command-line converter and the fuzzers: the file is
// already chosen, an overwrite question gets a fixed answer, memo lines and the error are kept,
// nothing is plotted, and no calibration read before is ever used in place of a file's own.
#pragma once

#include "convert/session.h"

#include <string>
#include <vector>

namespace rawdat {

class HeadlessUi : public ConversionUi {
public:
    HeadlessUi(std::string path, bool overwrite) : path_(std::move(path)), overwrite_(overwrite) {}
    std::optional<std::string> chooseFile(FileKind) override { return path_; }
    void clearMemo() override { memo.clear(); }
    void appendMemo(const std::string& line) override { memo.push_back(line); }
    void setLabel(LabelId, const std::string&) override {}
    void clearPlot() override {}
    void addPlotPoint(double, double) override {}
    bool askOverwrite(const std::string& path) override
    {
        if (!overwrite_)
            declined.push_back(path);
        return overwrite_;
    }
    void reportError(const std::string& message) override { error = message; }
    // The converter takes a calibration of the user's choice with --cal.
    std::string calibrationAdvice() const override { return "use --cal FILE to give one"; }
    void notice(const std::string& text) override { notices.push_back(text); }
    void keptExisting(const std::string& path) override { declined.push_back(path); }

    std::vector<std::string> memo;
    std::vector<std::string> notices;  // not in the memo: the converter prints them
    std::vector<std::string> declined; // files kept: the fixed answer, or found when placing
    std::string error;

private:
    std::string path_;
    bool overwrite_;
};

} // namespace rawdat
