// Scans and calibrations for the conversion tests, written with the library's own writers.
#pragma once

#include "convert/session.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rawdat::test {

// A ConversionUi that records everything and answers from a script.
class RecordingUi : public ConversionUi {
public:
    std::optional<std::string> chooseFile(FileKind kind) override
    {
        chosenKinds.push_back(kind);
        return nextFile;
    }
    void clearMemo() override { memo.clear(); }
    void appendMemo(const std::string& line) override { memo.push_back(line); }
    void setLabel(LabelId id, const std::string& text) override { labels[id] = text; }
    void clearPlot() override
    {
        plotX.clear();
        plotY.clear();
    }
    void addPlotPoint(double x, double y) override
    {
        plotX.push_back(x);
        plotY.push_back(y);
    }
    bool askOverwrite(const std::string& path) override
    {
        asked.push_back(path);
        return answer;
    }
    bool askUsePreviousCalibration(const std::string& question) override
    {
        calibrationQuestions.push_back(question);
        return usePreviousCalibration;
    }
    void reportError(const std::string& message) override { errors.push_back(message); }

    std::optional<std::string> nextFile;
    bool answer = true;
    bool usePreviousCalibration = false;
    std::vector<std::string> calibrationQuestions;
    std::vector<FileKind> chosenKinds;
    std::vector<std::string> memo;
    std::map<LabelId, std::string> labels;
    std::vector<double> plotX, plotY;
    std::vector<std::string> asked;
    std::vector<std::string> errors;
};

// A straight-line spline calibration: knots at channels firstChannel..lastChannel, angle
// offset + slope * channel. Its spline coefficients are the line's (b = 1000 slope, c = d = 0).
TCalibration lineCalibration(double firstChannel, double lastChannel, double offset, double slope, int knots = 5);

// A scan of `size` channels with a smooth peak, header texts set, CalName `calName`.
struct DatScan {
    TScanHeader h;
    TScanParams p;
    TData d;
};
DatScan datScan(int size, const std::string& calName);

} // namespace rawdat::test
