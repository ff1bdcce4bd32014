// What the RAW fuzzers share: a read that must leave the records and the module as they were when
// it fails, and the round trip of a scan through Ecr_RAW and Lect_RAW.
#pragma once

#include "fmt_raw/raw.h"
#include "harness.h"

#include <string>

namespace rawdat::fuzz {

// Lect_RAW of `path` into `scan` (marked first) and `m` (marked here). False when it failed, after
// checking that it changed neither.
inline bool readRaw(const std::string& path, ScanRecords& scan, RawModule& m)
{
    RawModule markedModule;
    markedModule.RangeInfo = {-99.5f, -99.5f, -99.5f, -99.5f};
    markedModule.AnodeIndex = -7;
    markedModule.Ranges.resize(1);
    markedModule.MainRange = 3;
    m = markedModule;
    if (readScan("Lect_RAW", scan, false, [&](ScanRecords& r) {
            Lect_RAW(m, path, r.h, r.p, r.d);
            return true;
        }))
        return true;
    if (!(sameBits(m.RangeInfo, markedModule.RangeInfo) && m.AnodeIndex == markedModule.AnodeIndex &&
          m.Ranges == markedModule.Ranges && m.MainRange == markedModule.MainRange))
        fault("Lect_RAW failed and changed the module");
    return false;
}

// The scan of `scan` and `info` written again by Ecr_RAW reads back with the same counts, start and
// step. A scan that the RAW2 layout cannot hold (a wavelength beyond a Single) is a defined error.
inline void checkRewrite(const Scratch& scratch, const ScanRecords& scan, const TRangeInfo& info,
                         ScanRecords& back)
{
    const std::string again = scratch.path("again.RAW");
    RawModule w;
    w.RangeInfo = info;
    if (!succeeds([&] { Ecr_RAW(w, again, scan.h, scan.d); }))
        return;
    RawModule m;
    back = marked();
    if (!succeeds([&] { Lect_RAW(m, again, back.h, back.p, back.d); }))
        fault("Lect_RAW failed on what Ecr_RAW wrote");
    const int n = scan.h.Size;
    if (back.h.Size != n || !sameCounts(back.d, scan.d, 1, n))
        fault("the counts of a RAW file changed through Ecr_RAW and Lect_RAW");
    if (!sameBits(m.RangeInfo.Start, info.Start) || !sameBits(m.RangeInfo.Step, info.Step))
        fault("the start or step of a RAW file changed through Ecr_RAW and Lect_RAW");
}

} // namespace rawdat::fuzz
