// FDT scan file: one header area shared by a series of detector scans, then one fixed-size record
// per scan. writeInitFDT creates the file with its header, EcrScanFDT fills one record in place,
// LoadScanFDT reads the header and any one record back (TLitdat, fdt.cpp).
//
// Little-endian. A Text[N] field is stored as the first w bytes of its image (length byte, then
// the area): with w = N the last area character is not stored.
//
// Header area (B = KChannels; a scan holds 1024 B counts)
//   offset  size   field
//        0     2   KChannels, int16
//        2     2   NbScans, int16
//        4    80   Comment1, Text[80], w = 80
//       84    80   Comment2, Text[80], w = 80      (Comment3 is not stored)
//      164     4   Extra1, int32
//      168     4   Extra2, int32
//      172     4   Extra3, int32
//      176     1   ExtraFlag1
//      177     4   Extra4, int32
//      181    20   ExtraText20, Text[20], w = 20
//      201     9   ExtraText9, Text[9], w = 9
//      210    20   Date, Text[20], w = 20
//      230    20   Date again (the reader keeps this copy)
//      250     6   ExtraReal0, Real48 (angular step per channel)
//      256     1   ExtraFlag2
//      257     8   Wavelength, Double
//      265     9   Voltage, Text[9], w = 9
//      274     9   Current, Text[9], w = 9
//      283    24   ExtraReal1..ExtraReal4, Real48 each
//      307     1   ExtraFlag3
//      308     2   ExtraWord1, int16
//      310     2   NbChannels, int16
//      312   256   CalName, Text[255], w = 256, padded with blanks to 255 characters
//      568 15620   reserved, zero
//    16188     8   reserved, zero                  (writeInitFDT stops at 16196)
//    16196   252   zero once a record is written past it
//
// Scan record k (k >= 1) at 16448 + (k - 1) (64 + 4096 B), 64 + 4096 B bytes; d = 18 + 4096 B
//        0    14   ScanWords, 7 x int16
//       14     4   AcqTime, Single
//       18 4096B   counts 1..1024 B, int32
//        d    28   Theta, Axis4, Extra20, Axis1, Axis2, Axis3, Extra40: raw 32-bit values, in this
//                  order (in memory they stand Extra20, Theta, Axis1, Axis2, Axis3, Extra40, Axis4)
//   d + 28     4   Extra48
//   d + 32     4   Extra52, Single
//   d + 36    10   Source, Text[9], w = 10
#pragma once

#include "ulit_dat/binio.h"
#include "ulit_dat/records.h"

#include <cstdint>
#include <optional>
#include <string>

namespace rawdat {

inline constexpr std::size_t kFdtHeaderWritten = 16196;  // bytes writeInitFDT writes
inline constexpr std::int64_t kFdtFirstRecord = 16448;
inline constexpr int kFdtMaxKChannels = kDataCapacity / 1024; // 31: a scan must fit Data
inline constexpr std::int32_t kFdtMaxScans = 32767;           // NbScans is an int16

inline constexpr std::int64_t fdtRecordSize(std::int64_t kChannels) { return 64 + 4096 * kChannels; }
inline constexpr std::int64_t fdtRecordOffset(std::int64_t scan, std::int64_t kChannels)
{
    return kFdtFirstRecord + (scan - 1) * fdtRecordSize(kChannels);
}

// Refuses a KChannels whose scan of 1024 KChannels counts Data cannot hold, or below 0.
void checkFdtKChannels(const std::string& file, std::int16_t kChannels);

// The header area from offset 0 into `header`, as stored: Size = 1024 KChannels; the Text fields
// keep the area characters the file does not store; CalName is left alone (see fdtStoredCalName).
void readFdtHeader(ByteReader& r, TScanHeader& header);
// The calibration name stored at offset 313: none when it starts with a blank or a control byte,
// else its characters up to the first zero byte or 254 of them, padding blanks included.
std::optional<std::string> fdtStoredCalName(ByteReader& r);
// Scan record `scan` into `params` and counts 1..1024 KChannels of `data`; the caller has
// checked KChannels. Fails with the end-of-file error before changing anything when the file
// does not hold the whole record.
void readFdtRecord(ByteReader& r, std::int32_t scan, std::int16_t kChannels, TScanParams& params,
                   TData& data);

} // namespace rawdat
