// Lect_RAW on RAW4.00 files: the input's first 7 bytes become "RAW4.00", so every input reaches the
// RAW4 reader. A defined result or a RawdatError with the records and the module untouched. A file
// read holds at least one range, the first of which the main records hold; every range's records
// (RangeRecords) are those of the range, their texts hold no byte below 32, and each range written
// again by Ecr_RAW reads back with the same counts, start and step.
#include "raw_checks.h"

#include <cmath>
#include <string>

using namespace rawdat;
using namespace rawdat::fuzz;

namespace {

bool printable(std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) < 32)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ScanRecords scan;
    static ScanRecords one;
    static ScanRecords back;
    const Scratch& scratch = freshScratch();
    std::string bytes = "RAW4.00";
    if (size > bytes.size())
        bytes.append(reinterpret_cast<const char*>(data) + bytes.size(), size - bytes.size());
    const std::string path = scratch.write("in.RAW", bytes);

    RawModule m;
    if (!readRaw(path, scan, m))
        return 0;
    if (m.Ranges.empty() || m.MainRange != 0)
        fault("a RAW4 file read without ranges, or with a main range other than the first");
    if (scan.h.Comment1.str() != "RAW4")
        fault("Comment1 of a RAW4 file is not RAW4");
    if (!printable(scan.h.Date.view()) || !printable(scan.h.Comment2.view()) ||
        !printable(scan.h.Comment3.view()))
        fault("a header text of a RAW4 file holds a byte below 32");

    for (std::size_t k = 0; k < m.Ranges.size(); ++k) {
        const TRawRange& range = m.Ranges[k];
        if (!std::isfinite(range.Info.Start) || !std::isfinite(range.Info.Step))
            fault("Lect_RAW accepted a start or step that is not finite");
        one = scan;
        TRangeInfo info = m.RangeInfo;
        if (!succeeds([&] { RangeRecords(m, k, one.h, one.p, info, one.d); }))
            fault("RangeRecords failed");
        const int n = one.h.Size;
        if (n != range.Size() || n > kDataCapacity)
            fault("RangeRecords gave another Size than the range's");
        for (int i = 1; i <= n; ++i)
            if (one.d[i] != range.Counts[static_cast<std::size_t>(i - 1)])
                fault("RangeRecords gave other counts than the range's");
        if (k == m.MainRange && !(sameRecords(one, scan) && sameBits(info, m.RangeInfo)))
            fault("the records of the main range are not those Lect_RAW filled");

        checkRewrite(scratch, one, info, back);
    }
    return 0;
}
