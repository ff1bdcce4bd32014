// The RAW command on any bytes. It ends either with the TXT and two-column files of every range
// written and consistent with its state, or with a RawdatError and no output file, no temporary
// file.
#include "convert_ui.h"
#include "harness.h"

#include "ulit_dat/litdat.h"

#include <algorithm>
#include <memory>
#include <string>

using namespace rawdat;
using namespace rawdat::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Scratch& scratch = freshScratch();
    const std::string raw = scratch.write("S.RAW", data, size);

    HeadlessUi ui(raw, true);
    TRawDatState& state = freshState();
    TLitdat lit;
    TConversion conv(state, lit, ui);
    const bool ok = succeeds([&] { conv.Bt_RAWClick(); });
    if (!ok) {
        if (scratch.files() != std::vector<std::string>{"S.RAW"})
            fault("the RAW command failed and left files behind");
        return 0;
    }
    // S.TXT and S.2CL of the main range, S_k.TXT and S_k.2CL of each other range k.
    const RawModule& module = state.Raw;
    std::vector<std::string> expected = {"S.2CL", "S.RAW", "S.TXT"};
    for (std::size_t r = 0; r < module.Ranges.size(); ++r) {
        if (r == module.MainRange)
            continue;
        const std::string name = "S_" + std::to_string(r + 1);
        expected.push_back(name + ".2CL");
        expected.push_back(name + ".TXT");
    }
    std::sort(expected.begin(), expected.end());
    if (scratch.files() != expected)
        fault("the RAW command ended without writing the files of every range, or left others");
    if (ui.notices.size() != (module.Ranges.size() > 1 ? 1u : 0u))
        fault("the RAW command said nothing of a file's ranges, or spoke of a single range");
    for (std::size_t r = 0; r < module.Ranges.size(); ++r)
        if (r != module.MainRange &&
            twoColumnLines(scratch.path("S_" + std::to_string(r + 1) + ".2CL")) != module.Ranges[r].Size())
            fault("the two-column file of a range does not hold one line per step of the range");
    const int n = state.Header.Size;
    if (twoColumnLines(scratch.path("S.2CL")) != n)
        fault("the two-column file does not hold one line per step");

    // The TXT file holds the pattern's counts; points its range counts beyond them are 0.
    static ScanRecords back;
    bool opened = false;
    if (!succeeds([&] { opened = lit.Lect_TXT(scratch.path("S.TXT"), back.h, back.p, back.d); }) || !opened)
        fault("Lect_TXT failed on the TXT file of the RAW command");
    const int m = back.h.Size;
    for (int i = 1; i <= m; ++i)
        if (back.d[i] != (i <= n ? (*state.Data)[i] : 0))
            fault("the TXT file of the RAW command holds other counts than the RAW file");
    return 0;
}
