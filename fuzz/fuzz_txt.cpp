// Lect_TXT on any bytes: a defined result or a RawdatError with the records untouched; the counts
// it reads are written again by Ecr_TXT and read back the same.
#include "harness.h"
#include "ulit_dat/litdat.h"

using namespace rawdat;
using namespace rawdat::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ScanRecords scan;
    static ScanRecords back;
    static TReal48Array values;
    const Scratch& scratch = freshScratch();
    const std::string path = scratch.write("in.TXT", data, size);
    TLitdat lit;
    if (!readScan("Lect_TXT", scan, true, [&](ScanRecords& r) { return lit.Lect_TXT(path, r.h, r.p, r.d); }))
        return 0;
    const int n = scan.h.Size;
    if (n == 0)
        return 0;

    for (int i = 1; i <= n; ++i)
        values[i] = Real48::fromValue(scan.d[i]);
    const std::string again = scratch.path("again.TXT");
    if (!succeeds([&] { lit.Ecr_TXT(again, scan.h, scan.p, values, 0.0, 1.0, n - 1.0); }))
        fault("Ecr_TXT refused the counts Lect_TXT read");
    if (!readScan(std::string("Lect_TXT of what it wrote"), back, true,
                  [&](ScanRecords& r) { return lit.Lect_TXT(again, r.h, r.p, r.d); }))
        fault("Lect_TXT failed on what it wrote");
    if (back.h.Size != n || !sameCounts(back.d, scan.d, 1, n))
        fault("the counts of a TXT file changed through Ecr_TXT and Lect_TXT");
    return 0;
}
