// The RAW command on any bytes. It ends either with the TXT and two-column files written and
// consistent with its state, or with a RawdatError and no output file, no temporary file.
#include "convert_ui.h"
#include "harness.h"

#include "ulit_dat/litdat.h"

#include <memory>

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
    if (scratch.files() != std::vector<std::string>{"S.2CL", "S.RAW", "S.TXT"})
        fault("the RAW command ended without writing its two files, or left others");
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
