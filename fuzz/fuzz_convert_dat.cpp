// The DAT command on any DAT and CAL pair. The input is the CAL file's bytes (their length in the
// first two bytes) followed by the DAT file's; the CAL file takes the name the DAT header gives.
// The command ends either with both output files written and consistent with its state, or with a
// RawdatError and no output file, no temporary file.
#include "convert_ui.h"
#include "fmt_raw/raw.h"
#include "harness.h"

#include <algorithm>
#include <memory>

using namespace rawdat;
using namespace rawdat::fuzz;

namespace {

// The calibration's file name as the command builds it: H[330..338] of the DAT header (file offset
// 339) without spaces, plus ".CAL". Empty when the name would leave the scratch folder.
std::string calibrationName(std::string_view dat)
{
    constexpr std::size_t kCalNameOffset = 339;
    if (dat.size() < kCalNameOffset + 9)
        return {};
    std::string base;
    for (char c : dat.substr(kCalNameOffset, 9)) {
        if (c == '/' || c == '\0')
            return {};
        if (c != ' ')
            base += c;
    }
    if (base == "." || base == "..")
        return {};
    return base + ".CAL";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Scratch& scratch = freshScratch();
    const TwoParts parts = splitInput(data, size);
    const std::string dat = scratch.write("S.DAT", parts.second);
    const std::string calName = calibrationName(parts.second);
    if (!calName.empty())
        scratch.write(calName, parts.first);
    const auto inputs = scratch.files();

    HeadlessUi ui(dat, true);
    TRawDatState& state = freshState();
    TLitdat lit;
    TConversion conv(state, lit, ui);
    const bool ok = succeeds([&] { conv.Bt_datClick(); });

    const std::string raw = scratch.path("S.RAW");
    if (!ok) {
        if (scratch.files() != inputs)
            fault("the DAT command failed and left files behind");
        return 0;
    }
    if (!ui.memo.empty() && ui.memo.back() == "file not opened")
        fault("the DAT command did not open a file that exists");
    auto expected = inputs;
    expected.push_back("S.2CL");
    expected.push_back("S.RAW");
    std::sort(expected.begin(), expected.end());
    if (scratch.files() != expected)
        fault("the DAT command ended without writing its two files, or left others");
    checkWrittenPattern(raw, scratch.path("S.2CL"), state);
    return 0;
}
