// Lect_TXT on any bytes: a defined result or a RawdatError with the records untouched; the counts
// it reads are written again by Ecr_TXT and read back the same.
#include "harness.h"
#include "ulit_dat/litdat.h"

using namespace rawdat;
using namespace rawdat::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScanRecords marked = markedRecords();
    static ScanRecords scan;
    static ScanRecords back;
    static TReal48Array values;
    const Scratch& scratch = freshScratch();
    const std::string path = scratch.write("in.TXT", data, size);
    TLitdat lit;
    scan = marked;

    bool opened = false;
    if (!succeeds([&] { opened = lit.Lect_TXT(path, scan.h, scan.p, scan.d); })) {
        if (!sameRecords(scan, marked))
            fault("Lect_TXT failed and changed the records");
        return 0;
    }
    if (!opened)
        fault("Lect_TXT returned false for a file that exists");
    const int n = scan.h.Size;
    if (n < 0 || n > kDataCapacity)
        fault("Lect_TXT gave Size " + std::to_string(n));
    if (!sameCounts(scan.d, marked.d, n + 1, kDataCapacity))
        fault("Lect_TXT changed counts beyond Size");
    if (n == 0)
        return 0;

    for (int i = 1; i <= n; ++i)
        values[i] = Real48::fromValue(scan.d[i]);
    const std::string again = scratch.path("again.TXT");
    if (!succeeds([&] { lit.Ecr_TXT(again, scan.h, scan.p, values, 0.0, 1.0, n - 1.0); }))
        fault("Ecr_TXT refused the counts Lect_TXT read");
    back = marked;
    if (!succeeds([&] { opened = lit.Lect_TXT(again, back.h, back.p, back.d); }) || !opened)
        fault("Lect_TXT failed on what Ecr_TXT wrote");
    if (back.h.Size != n || !sameCounts(back.d, scan.d, 1, n))
        fault("the counts of a TXT file changed through Ecr_TXT and Lect_TXT");
    return 0;
}
