// The table of bad values: every refusal of bad content, with the files that provoke it, where it
// is met and the exact message it gives. Used by the end-to-end test of the commands and the
// command-line converter, and by the window's.
#pragma once

#include "reliability.h"

#include <functional>
#include <string>
#include <vector>

namespace rawdat::test {

// Where a bad value is met: the DAT or RAW command (and rawdat-convert FILE), the F1B conversion
// (rawdat-convert f1b), the FDT and DTB readers (rawdat-convert info), the step-scan export of a
// RAW file (rawdat-convert export-steps, no command of its own), the TXT reader (no command), an
// FDT scan record (info says of a scan the file does not hold "not in the file": the reader only).
enum class Via { DatCommand, RawCommand, F1b, Fdt, Dtb, ExportSteps, TxtReader, FdtRecord };
enum class Kind { Refusal, InOut, Float };

struct BadValue {
    const char* what;
    Via via;
    std::function<std::string(const TempDir&)> make; // writes the files, returns the one given
    Kind kind;
    std::string message; // "{}" stands for the folder
    std::string cliMessage = {}; // rawdat-convert's, where it differs
};

// Every case, in the order of the formats.
std::vector<BadValue> badValues();
// A message of the table with "{}" replaced by the folder.
std::string inFolder(std::string message, const TempDir& dir);

} // namespace rawdat::test
