// FDT scan file: writeInitFDT, EcrScanFDT, LoadScanFDT. Layout in fdt.h.
#include "ulit_dat/fdt.h"

#include "ulit_dat/errors.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/platform.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/numtext.h"

#include <algorithm>
#include <bit>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace rawdat {

namespace {

// The seven 4-byte scan fields in the order the file holds them.
constexpr float TScanParams::*kFileOrder[7] = {
    &TScanParams::Theta, &TScanParams::Axis4, &TScanParams::Extra20, &TScanParams::Axis1,
    &TScanParams::Axis2, &TScanParams::Axis3, &TScanParams::Extra40,
};

constexpr int kCalNameOffset = 312;
constexpr std::size_t kCalNameChars = 254; // characters the reader takes from offset 313

// The first w bytes of the image of a Text field: length byte, then w - 1 area characters.
template <std::size_t N>
void putText(ByteWriter& w, const Text<N>& t, std::size_t width)
{
    w.u8(t.lengthByte());
    w.chars(t.area().substr(0, width - 1));
}

template <std::size_t N>
void getText(ByteReader& r, Text<N>& t, std::size_t width)
{
    const std::uint8_t len = r.u8();
    const std::string_view chars = r.chars(width - 1);
    std::copy(chars.begin(), chars.end(), t.areaBytes().begin());
    t.setLength(len);
}

// The stored calibration name moved to the current folder: the part after its last folder
// separator ('\' or '/'; the whole name when there is none), looked up there as the DAT
// conversion looks up its calibration (exact name, then a name differing only in letter case).
// The padding blanks stay behind the name; "None" when no such file opens for reading.
std::string calNameInCurrentFolder(const std::optional<std::string>& stored)
{
    if (!stored)
        return "None";
    std::string name = *stored;
    if (name.size() > 2) {
        const std::size_t sep = name.find_last_of("\\/");
        name = sep == std::string::npos ? name : name.substr(sep + 1);
    }
    const std::size_t end = name.find_last_not_of(' ');
    const std::string base = end == std::string::npos ? std::string() : name.substr(0, end + 1);
    const std::string padding = name.substr(base.size());
    if (base.empty())
        return "None";
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    if (ec)
        return "None";
    const std::string found = fsio::findFileIgnoringCase(platform::utf8(cwd), base);
    return fsio::opensForReading(found) ? found + padding : "None";
}

} // namespace

void checkFdtKChannels(const std::string& file, std::int16_t kChannels)
{
    if (kChannels < 0 || kChannels > kFdtMaxKChannels)
        throw Refusal(file, "KChannels is " + intText(kChannels) +
                                ": a scan of 1024 x KChannels counts must fit the " +
                                intText(kDataCapacity) + " entries of Data (KChannels 0 to " +
                                intText(kFdtMaxKChannels) + ")");
}

void readFdtHeader(ByteReader& r, TScanHeader& h)
{
    r.seek(0);
    h.KChannels = r.i16();                 // 0
    h.Size = 1024 * std::int32_t{h.KChannels};
    h.NbScans = r.i16();                   // 2
    getText(r, h.Comment1, 80);            // 4
    getText(r, h.Comment2, 80);            // 84
    h.Extra1 = r.i32();                    // 164
    h.Extra2 = r.i32();                    // 168
    h.Extra3 = r.i32();                    // 172
    h.ExtraFlag1 = r.u8();                 // 176
    h.Extra4 = r.i32();                    // 177
    getText(r, h.ExtraText20, 20);         // 181
    getText(r, h.ExtraText9, 9);           // 201
    getText(r, h.Date, 20);                // 210
    getText(r, h.Date, 20);                // 230: the second copy wins
    h.ExtraReal0 = r.real48();             // 250
    h.ExtraFlag2 = r.u8();                 // 256
    h.Wavelength = r.f64();                // 257
    getText(r, h.Voltage, 9);              // 265
    getText(r, h.Current, 9);              // 274
    h.ExtraReal1 = r.real48();             // 283
    h.ExtraReal2 = r.real48();             // 289
    h.ExtraReal3 = r.real48();             // 295
    h.ExtraReal4 = r.real48();             // 301
    h.ExtraFlag3 = r.u8();                 // 307
    h.ExtraWord1 = r.i16();                // 308
    h.NbChannels = r.i16();                // 310
}

std::optional<std::string> fdtStoredCalName(ByteReader& r)
{
    r.seek(kCalNameOffset);
    r.skip(1); // the stored length byte is not used
    const std::string_view chars = r.chars(kCalNameChars); // 313
    if (static_cast<unsigned char>(chars[0]) <= 32)
        return std::nullopt;
    // A name ends at its first zero byte, which other writers may leave instead of blanks.
    return std::string(chars.substr(0, chars.find('\0')));
}

void readFdtRecord(ByteReader& r, std::int32_t scan, std::int16_t kChannels, TScanParams& p,
                   TData& data)
{
    const std::int64_t size = fdtRecordSize(kChannels);
    r.seek(static_cast<std::size_t>(fdtRecordOffset(scan, kChannels)));
    r.peek(static_cast<std::size_t>(size)); // the whole record is there before anything changes
    data.fill(0);
    for (auto& w : p.ScanWords)                      // 0
        w = r.i16();
    p.AcqTime = r.f32();                             // 14
    const int n = 1024 * kChannels;
    for (int i = 1; i <= n; ++i)                     // 18
        data[i] = r.i32();
    for (auto field : kFileOrder)                    // d
        p.*field = std::bit_cast<float>(r.u32());
    p.Extra48 = r.u32();                             // d + 28
    p.Extra52 = r.f32();                             // d + 32
    getText(r, p.Source, 10);                        // d + 36
}

void TLitdat::writeInitFDT(const std::string& FileName, TScanHeader& Header)
{
    checkFdtKChannels(FileName, Header.KChannels);
    Header.CalName = Header.CalName.str() + std::string(255, ' ');

    const TScanHeader& h = Header;
    ByteWriter w(kFdtHeaderWritten);
    w.i16(h.KChannels);                    // 0
    w.i16(h.NbScans);                      // 2
    putText(w, h.Comment1, 80);            // 4
    putText(w, h.Comment2, 80);            // 84
    w.i32(h.Extra1);                       // 164
    w.i32(h.Extra2);                       // 168
    w.i32(h.Extra3);                       // 172
    w.u8(h.ExtraFlag1);                    // 176
    w.i32(h.Extra4);                       // 177
    putText(w, h.ExtraText20, 20);         // 181
    putText(w, h.ExtraText9, 9);           // 201
    putText(w, h.Date, 20);                // 210
    putText(w, h.Date, 20);                // 230
    w.real48(h.ExtraReal0);                // 250
    w.u8(h.ExtraFlag2);                    // 256
    w.f64(h.Wavelength);                   // 257
    putText(w, h.Voltage, 9);              // 265
    putText(w, h.Current, 9);              // 274
    w.real48(h.ExtraReal1);                // 283
    w.real48(h.ExtraReal2);                // 289
    w.real48(h.ExtraReal3);                // 295
    w.real48(h.ExtraReal4);                // 301
    w.u8(h.ExtraFlag3);                    // 307
    w.i16(h.ExtraWord1);                   // 308
    w.i16(h.NbChannels);                   // 310
    putText(w, h.CalName, 256);            // 312
    w.fill(kFdtHeaderWritten - w.size(), 0); // 568: reserved
    fsio::writeFileAtomic(FileName, w.bytes());
}

void TLitdat::EcrScanFDT(std::int32_t ScanNumber, const std::string& FileName,
                         const TScanParams& Params, const TScanHeader& Header, const TData& Data)
{
    if (ScanNumber < 1)
        throw Refusal(FileName, "scan number " + intText(ScanNumber) + " is below 1");
    if (ScanNumber > kFdtMaxScans)
        throw Refusal(FileName, "scan number " + intText(ScanNumber) + " is above " +
                                    intText(kFdtMaxScans) + ", the most scans an FDT header counts");
    checkFdtKChannels(FileName, Header.KChannels);

    const int n = 1024 * Header.KChannels;
    ByteWriter w(static_cast<std::size_t>(fdtRecordSize(Header.KChannels)));
    for (auto word : Params.ScanWords)     // 0
        w.i16(word);
    w.f32(Params.AcqTime);                 // 14
    for (int i = 1; i <= n; ++i)           // 18
        w.i32(Data[i]);
    for (auto field : kFileOrder)          // d
        w.u32(std::bit_cast<std::uint32_t>(Params.*field));
    w.u32(Params.Extra48);                 // d + 28
    w.f32(Params.Extra52);                 // d + 32
    putText(w, Params.Source, 10);         // d + 36
    fsio::writeInPlace(FileName, static_cast<std::size_t>(fdtRecordOffset(ScanNumber, Header.KChannels)),
                       w.bytes());
}

bool TLitdat::LoadScanFDT(std::int32_t ScanNumber, const std::string& FileName, bool ReadHeader,
                          TScanParams& Params, TScanHeader& Header, TData& Data)
{
    const Bytes bytes = fsio::readFile(FileName);
    ByteReader r(bytes, FileName);

    TScanHeader h = Header;
    if (ReadHeader)
        readFdtHeader(r, h);
    checkFdtKChannels(FileName, h.KChannels);
    if (ReadHeader)
        h.CalName = calNameInCurrentFolder(fdtStoredCalName(r));

    const bool inRange = ScanNumber >= 1 && ScanNumber <= h.NbScans;
    if (inRange) {
        TScanParams p = Params;
        readFdtRecord(r, ScanNumber, h.KChannels, p, Data);
        h.Size = 1024 * std::int32_t{h.KChannels};
        Params = p;
    }
    Header = h;
    return inRange;
}

} // namespace rawdat
