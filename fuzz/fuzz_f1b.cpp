// lect_F1B on any F1B file and parameter file. The input is the parameter file's bytes (their
// length in the first two bytes) followed by the F1B file's. The conversion ends either with the
// FDT and CAL files written, the FDT holding the scans it counted and the last scan as the records
// hold it, or with a RawdatError and no file written.
#include "harness.h"
#include "ulit_dat/fdt.h"
#include "ulit_dat/litdat.h"

#include <memory>

using namespace rawdat;
using namespace rawdat::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ScanRecords scan;
    static ScanRecords back;
    const Scratch& scratch = freshScratch();
    const TwoParts parts = splitInput(data, size);
    const std::string params = scratch.write("S.par", parts.first);
    const std::string f1b = scratch.write("S.F1B", parts.second);
    const auto inputs = scratch.files();
    TLitdat lit;
    scan = ScanRecords{};
    TCalibration cal;

    if (!succeeds([&] { lit.lect_F1B(params, f1b, scan.p, scan.h, scan.d, cal); })) {
        if (scratch.files() != inputs)
            fault("lect_F1B failed and left files behind");
        return 0;
    }
    if (scratch.files() != std::vector<std::string>{"S.F1B", "S.cal", "S.fdt", "S.par"})
        fault("lect_F1B ended without writing its two files, or left others");

    // The FDT holds the scans counted; its last one is what the records hold.
    const std::int16_t scans = scan.h.NbScans;
    bool read = false;
    back = ScanRecords{};
    if (!succeeds(
            [&] { read = lit.LoadScanFDT(scans, scratch.path("S.fdt"), true, back.p, back.h, back.d); }))
        fault("LoadScanFDT failed on the FDT file of lect_F1B");
    if (back.h.NbScans != scans || back.h.KChannels != scan.h.KChannels || read != (scans >= 1))
        fault("the FDT file of lect_F1B holds another header");
    if (read && !sameCounts(back.d, scan.d, 1, 1024 * scan.h.KChannels))
        fault("the last scan of the FDT file of lect_F1B holds other counts");

    TCalibration calBack;
    if (!succeeds([&] { read = lit.Lect_CAL(scratch.path("S.cal"), calBack); }) || !read)
        fault("Lect_CAL failed on the CAL file of lect_F1B");
    if (!sameCalibration(calBack, cal))
        fault("the CAL file of lect_F1B holds another calibration");
    return 0;
}
