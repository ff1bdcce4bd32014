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

enum class Action { Convert, Subcommand, Help, Version, UsageError };

struct Parsed {
    Action action = Action::Convert;
    Options options;
    std::string error;                 // for UsageError: the line to print before the usage line
    std::string subcommand;            // for Subcommand: info, f1b or export-steps
    std::vector<std::string> operands; // and every argument after it, as given
};

// Parses argv[1..argc). Options may follow file names; "--" ends them. The first argument that is
// no option may be a subcommand (info, f1b, export-steps): the options before it are -q/--quiet,
// and -f/--force for f1b and export-steps; any other is refused. A subcommand's name after a file
// is refused, so that no file is converted by accident: a file of that name is given as ./NAME or
// after "--". A repeated --also adds its formats to the list.
Parsed parseOptions(int argc, char** argv);

// Whether `word` names a subcommand.
bool isSubcommand(std::string_view word);

} // namespace rawdat::cli
