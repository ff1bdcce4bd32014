// The conversation of the conversion fuzzers: the file is already chosen, every overwrite is
// allowed, nothing is shown. And the check of the files a DAT conversion wrote.
#pragma once

#include "convert/session.h"

#include <string>
#include <vector>

namespace rawdat::fuzz {

class ScriptedUi : public ConversionUi {
public:
    explicit ScriptedUi(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> chooseFile(FileKind) override { return path_; }
    void clearMemo() override { memo.clear(); }
    void appendMemo(const std::string& line) override { memo.push_back(line); }
    void setLabel(LabelId, const std::string&) override {}
    void clearPlot() override {}
    void addPlotPoint(double, double) override {}
    bool askOverwrite(const std::string&) override { return true; }
    void reportError(const std::string& message) override { errors.push_back(message); }

    std::vector<std::string> memo;
    std::vector<std::string> errors;

private:
    std::string path_;
};

// The state of one command, kept from one input to the next with its large arrays (as the window
// keeps them from one command to the next) but every other field as at start.
TRawDatState& freshState();

// Lines of a two-column file (CR LF ends each), -1 when it cannot be read.
int twoColumnLines(const std::string& path);
// The RAW file of a DAT conversion reads back as the state's converted pattern, and its
// two-column file holds one line per point.
void checkWrittenPattern(const std::string& raw, const std::string& twoColumn, const TRawDatState& state);

} // namespace rawdat::fuzz
