// What the conversion fuzzers share: the state of one command and the check of the files a DAT
// conversion wrote. They talk to the commands through a HeadlessUi that allows every overwrite.
#pragma once

#include "convert/headless_ui.h"

#include <string>
#include <vector>

namespace rawdat::fuzz {

// The state of one command, kept from one input to the next with its large arrays (as the window
// keeps them from one command to the next) but every other field as at start.
TRawDatState& freshState();

// Lines of a two-column file (CR LF ends each), -1 when it cannot be read.
int twoColumnLines(const std::string& path);
// The RAW file of a DAT conversion reads back as the state's converted pattern, and its
// two-column file holds one line per point.
void checkWrittenPattern(const std::string& raw, const std::string& twoColumn, const TRawDatState& state);

} // namespace rawdat::fuzz
