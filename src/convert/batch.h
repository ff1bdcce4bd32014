// The batch: many files converted under one plan, by the command-line converter and the window.
// The plan decides, before anything is written, what each file does (what it is, its outputs, the
// refusals, and without --force the files skipped because they are converted already); then each
// planned file is converted with a fresh state, in any order and on any thread, with the same
// results.
#pragma once

#include "convert/session.h"
#include "ulit_dat/binio.h"

#include <optional>
#include <string>
#include <vector>

namespace rawdat {

// One FILE of the batch: what the plan decided, then what its conversion did.
struct BatchItem {
    enum class State { Run, Failed, Skipped, Converted, NotRun };
    std::string given;
    std::string path; // absolute
    FileKind kind = FileKind::Dat;
    std::vector<PlannedOutput> outputs;
    std::string calibration; // a DAT file's calibration file
    State state = State::Run;
    // What is to be said of it, in order: refusals, notices, "kept existing", the failure.
    std::vector<std::string> messages;
    std::vector<bool> notice;       // per message: a notice or "kept existing", no failure
    bool finished = false;          // its messages are all there
    std::optional<Bytes> input;     // the whole file, when the plan has read it whole

    void fail(const std::string& message)
    {
        state = State::Failed;
        say(message, false);
        finished = true;
    }
    void say(const std::string& message, bool isNotice)
    {
        messages.push_back(message);
        notice.resize(messages.size() - 1);
        notice.push_back(isNotice);
    }
};

// Plans the batch: `items` hold the files as the user gave them (`given`). `force`: existing
// outputs are replaced; `outputDirShown`: the output folder as the user gave it, for messages.
void planBatch(std::vector<BatchItem>& items, bool force, const ConversionOptions& options,
               const std::string& outputDirShown = {});

// Converts one planned file (state Run) with a fresh state, as the window would.
void convertBatchItem(BatchItem& it, bool force, const ConversionOptions& options);

// `given` made absolute (as it is when it cannot be).
std::string absolutePath(const std::string& given);

// A message about the input the user gave as `given` (its absolute form `path`, which the
// conversion's messages use), as the front ends show it after "FILE: ": the input named once,
// by that line, and the other files of its folder by the folder as given.
std::string userMessage(const std::string& given, const std::string& path, std::string message);

} // namespace rawdat
