// What `rawdat-convert info --json` prints of one file, and what the Python module's
// `read(...).header` holds: one JSON object.
//
// Every object has "path" (as given) and either "error" (the message the text form prints after
// "FILE: ") alone, or:
//   kind        "DAT", "RAW", "CAL", "FDT" or "DTB"
//   variant     of a RAW file its signature, "RAW1.01", "RAW2" or "RAW4.00"; null otherwise
//   size        bytes
// DAT and RAW files also:
//   date        {"stored": the header's text, "iso": ISO 8601 or null (see isoDate)}
//   sample      a DAT file's first comment line, a RAW file's sample identification
//   comments    the other comment lines: two for a DAT file, one for a RAW file
//   wavelength  angstroms, as the header holds it
//   anode       the symbol of the anode whose K-alpha-1 is the wavelength to the thousandth, or null
//   wavelengths {"alpha1", "alpha2", "ratio"} of that anode; {"alpha1"} alone without one
//   ranges      [{"start", "step", "points", "time_per_step", "end"}]: every range of a RAW file in
//               file order, the range of the RAW file a DAT file converts to (empty when it does
//               not convert, "conversion_error" then says why); degrees and seconds (a DAT
//               file's time per step is its acquisition time over its channels, where the RAW2
//               file written from it stores 1)
//   main_range  the index in "ranges" of the range the window shows
// DAT files also:
//   channels    as read
//   calibration {"name": the CAL file the header names, "found": whether it was read beside the
//               file, "file": its path or null, "kind": "spline" or "polynomial", "knots":
//               [{"channel", "two_theta"}] or "coefficients": [11 numbers], "wavelength",
//               "two_theta": {"first_channel", "last_channel", "from", "to"} of the channels the
//               conversion takes, or null}
// CAL files: "wavelength" and "calibration" as above (without name, found and two_theta).
// FDT and DTB files: "summary", the lines of the text form.
// Texts are UTF-8 (the files hold Windows-1252) without their control characters and trailing
// blanks; a Single is written as the shortest decimal that reads back as it.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace rawdat {

// The object of the file the user gave as `given`. Never throws for a file that cannot be read.
nlohmann::ordered_json fileInfo(const std::string& given);

// The object as one line of JSON Lines; bytes that are no UTF-8 (in a path) become U+FFFD.
std::string infoLine(const nlohmann::ordered_json& info);

} // namespace rawdat
