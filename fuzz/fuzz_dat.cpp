// Lect_Dat on any bytes: a defined result or a RawdatError with the records untouched; a file it
// reads is written again by Ecr_DAT and read back to the same header texts and counts.
#include "harness.h"
#include "ulit_dat/litdat.h"

using namespace rawdat;
using namespace rawdat::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ScanRecords scan;
    static ScanRecords back;
    const Scratch& scratch = freshScratch();
    const std::string path = scratch.write("in.DAT", data, size);
    TLitdat lit;
    if (!readScan("Lect_Dat", scan, true, [&](ScanRecords& r) { return lit.Lect_Dat(path, r.h, r.p, r.d); }))
        return 0;
    const int n = scan.h.Size;

    // What was read is written again and read back the same.
    const std::string again = scratch.path("again.DAT");
    if (!succeeds([&] { lit.Ecr_DAT(again, scan.h, scan.p, scan.d); }))
        fault("Ecr_DAT refused what Lect_Dat read");
    if (!readScan(std::string("Lect_Dat of what it wrote"), back, true,
                  [&](ScanRecords& r) { return lit.Lect_Dat(again, r.h, r.p, r.d); }))
        fault("Lect_Dat failed on what it wrote");
    const TScanHeader& a = scan.h;
    const TScanHeader& b = back.h;
    if (b.Size != n || !sameCounts(back.d, scan.d, 1, n))
        fault("the counts of a DAT file changed through Ecr_DAT and Lect_Dat");
    if (!(a.Date.view() == b.Date.view() && a.Comment1.view() == b.Comment1.view() &&
          a.Comment2.view() == b.Comment2.view() && a.Comment3.view() == b.Comment3.view() &&
          a.CalName.view() == b.CalName.view() && a.Voltage.view() == b.Voltage.view() &&
          a.Current.view() == b.Current.view() && sameBits(a.Wavelength, b.Wavelength)))
        fault("the header of a DAT file changed through Ecr_DAT and Lect_Dat");
    return 0;
}
