// The command line of rawdat-convert for a batch: options parsed with getopt_long.
#pragma once

#include "convert/xy_export.h"

#include <string>
#include <vector>

namespace rawdat::cli {

struct Options {
    bool force = false;
    bool quiet = false;
    bool dryRun = false;
    int jobs = 1;               // files converted at a time; 0 on the command line = one per core
    std::string outputDir;      // empty: outputs beside their input
    std::string calFile;        // empty: the calibration each DAT header names
    std::vector<XyFormat> also; // extra text exports beside the usual outputs
    std::vector<std::string> files;
};

enum class Action { Convert, Help, Version, UsageError };

struct Parsed {
    Action action = Action::Convert;
    Options options;
    std::string error; // for UsageError: the line to print before the usage line
};

// Parses argv[1..argc) (the subcommands info, f1b and export-steps are handled before).
// Options may follow file names; "--" ends them.
Parsed parseOptions(int argc, char** argv);

} // namespace rawdat::cli
