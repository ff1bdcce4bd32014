// LoadScanFDT on any bytes, for scan 1 with the header and for the last scan without: a defined
// result or a RawdatError with the records untouched; a scan it reads is written again by
// writeInitFDT and EcrScanFDT and read back the same.
#include "harness.h"
#include "ulit_dat/fdt.h"
#include "ulit_dat/litdat.h"

using namespace rawdat;
using namespace rawdat::fuzz;

namespace {

bool sameScanFields(const TScanParams& a, const TScanParams& b)
{
    return a.ScanWords == b.ScanWords && sameBits(a.AcqTime, b.AcqTime) && sameBits(a.Extra20, b.Extra20) &&
           sameBits(a.Theta, b.Theta) && sameBits(a.Axis1, b.Axis1) && sameBits(a.Axis2, b.Axis2) &&
           sameBits(a.Axis3, b.Axis3) && sameBits(a.Extra40, b.Extra40) && sameBits(a.Axis4, b.Axis4) &&
           a.Extra48 == b.Extra48 && sameBits(a.Extra52, b.Extra52);
}

// One read; false when it failed (the records are then checked unchanged).
bool load(TLitdat& lit, std::int32_t scan, const std::string& path, bool readHeader, ScanRecords& r,
          const ScanRecords& before, bool& read)
{
    if (succeeds([&] { read = lit.LoadScanFDT(scan, path, readHeader, r.p, r.h, r.d); }))
        return true;
    if (!sameRecords(r, before))
        fault("LoadScanFDT failed and changed the records");
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ScanRecords scan;
    static ScanRecords before;
    static ScanRecords back;
    const Scratch& scratch = freshScratch();
    const std::string path = scratch.write("in.fdt", data, size);
    TLitdat lit;
    scan = marked();

    bool read = false;
    if (!load(lit, 1, path, true, scan, marked(), read))
        return 0;
    const TScanHeader& h = scan.h;
    if (h.KChannels < 0 || h.KChannels > kFdtMaxKChannels || h.Size != 1024 * h.KChannels)
        fault("LoadScanFDT accepted KChannels " + std::to_string(h.KChannels));
    const int n = h.Size;
    if (read != (h.NbScans >= 1))
        fault("LoadScanFDT read scan 1 of a file of " + std::to_string(h.NbScans) + " scans, or did not");
    if (!read)
        return 0;
    for (int i = n + 1; i <= kDataCapacity; ++i)
        if (scan.d[i] != 0)
            fault("LoadScanFDT left counts beyond the scan");

    // The last scan, with the header already read.
    before = scan;
    if (!load(lit, h.NbScans, path, false, scan, before, read))
        return 0;
    if (!read)
        fault("LoadScanFDT did not read the last scan");

    // What was read is written again and read back the same.
    const std::string again = scratch.path("again.fdt");
    TScanHeader header = scan.h;
    header.NbScans = 1;
    if (!succeeds([&] {
            lit.writeInitFDT(again, header);
            lit.EcrScanFDT(1, again, scan.p, header, scan.d);
        }))
        fault("the FDT writers refused what LoadScanFDT read");
    back = marked();
    if (!load(lit, 1, again, true, back, marked(), read) || !read)
        fault("LoadScanFDT failed on what the FDT writers wrote");
    if (back.h.KChannels != h.KChannels || back.h.NbScans != 1 ||
        !sameBits(back.h.Wavelength, h.Wavelength) || !sameScanFields(back.p, scan.p) ||
        !sameCounts(back.d, scan.d, 1, kDataCapacity))
        fault("a scan changed through writeInitFDT, EcrScanFDT and LoadScanFDT");
    return 0;
}
