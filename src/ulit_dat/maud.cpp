// Step-scan text export: Ecr_MAUD. Every line, the last included, ends with a lone CR (13).
//   line 1       first 30 characters of Comment1
//   line 2       count, " ", step (5.3), " ", start (7.3), " ", Wavelength (8.6), " 1"
//   lines 3..    one intensity per line, rounded to a whole number
// The count is that of the TXT writer (steprange.h); 0 or less writes the two header lines only.
#include "ulit_dat/fsio.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/numtext.h"
#include "ulit_dat/steprange.h"

namespace rawdat {

void TLitdat::Ecr_MAUD(const std::string& FileName, const TScanHeader& Header, const TScanParams&,
                       const TReal48Array& Values, double Start, double Step, double Stop,
                       fsio::OutputGroup::Placement Placement)
{
    const double count = stepPointCount(FileName, Start, Step, Stop);
    const int n = count > 0 ? static_cast<int>(count) : 0;
    std::string out;
    out.reserve(64 + 12 * static_cast<std::size_t>(n));
    for (char c : Header.Comment1.view().substr(0, 30))
        out += (c == '\r' || c == '\n') ? ' ' : c; // a line end inside the title would split it
    out += '\r';
    appendFixed(out, count, 0);
    out += ' ';
    appendFixed(out, Step, 3, 5);
    out += ' ';
    appendFixed(out, Start, 3, 7);
    out += ' ';
    appendFixed(out, Header.Wavelength, 6, 8);
    out += " 1\r";
    for (int i = 1; i <= n; ++i) {
        appendFixed(out, Values[i].value(), 0, 1);
        out += '\r';
    }
    fsio::OutputGroup group(fsio::OutputGroup::Mode::Write, Placement);
    group.add(FileName, out);
    group.commit();
}

} // namespace rawdat
