// DAT detector file: a record-structured binary file of one scan.
//
//  offset  size        content
//  0       1           start byte 0x4B (0 is read too)
//  1       1           framing byte 2 (0 is read too)
//  2       2           channel count, unsigned 16-bit
//  4       1           framing byte 2 (not checked)
//  5       8 x 130     header record: 8 blocks of framing byte, 128 header bytes, framing byte
//                      (0x81 for blocks 1..7, 0x80 for block 8); the 8 x 128 bytes form H[1..1024]
//  1045    130 each    count div 32 data blocks: framing byte, 32 Singles, framing byte
//                      (the writer alternates 0x81, 0x80, ... starting with 0x81)
//  end     1           end byte 0x82
//
// Header area H[1..1024], 1-based, space-padded text:
//  H[1..20] date, H[21..40] second copy of the date, H[64..70] acquisition time (the writer puts
//  five zero-padded digits in H[66..70]), H[90..169], H[170..249], H[250..329] comments 1..3,
//  H[330..338] calibration name, H[501..508] wavelength as a Double (file offset 512),
//  H[511] zero byte, H[540..548] tube voltage, H[550..558] tube current.
//
// The framing bytes are skipped without being checked, except the first: a file whose start byte
// and first framing byte hold neither their values nor 0 is not a DAT file (a PNG image, a RAW or
// CAL file given a .DAT name) and is refused before anything else is read. The reader fills nothing
// until the whole file has been read and checked, so a short or bad file leaves the caller's
// records as they were.
#include "ulit_dat/litdat.h"

#include "ulit_dat/binio.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/numtext.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace rawdat {

namespace {

constexpr std::size_t kHeaderStart = 5;
constexpr std::size_t kBlock = 130;
constexpr std::size_t kDataStart = kHeaderStart + 8 * kBlock; // 1045
constexpr std::size_t kWavelengthOffset = 512;

// 1-based header positions.
std::string_view field(const std::string& h, int first, int length)
{
    return std::string_view(h).substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(length));
}

// The acquisition time: H[64..70] when it is one number, else H[65..69]; 0 when neither is
// (or when the number does not fit a Single).
float acquisitionTime(const std::string& h)
{
    for (auto [first, length] : {std::pair{64, 7}, std::pair{65, 5}}) {
        const ParsedNumber p = parseDecimal(field(h, first, length));
        if (p.whole && std::fabs(p.value) <= 3.4028234663852886e38)
            return static_cast<float>(p.value);
    }
    return 0.0f;
}

// A count read as a Single and truncated toward zero; refused when no int32 holds it.
std::int32_t countOf(float v, const std::string& file, int channel)
{
    if (!(v > -2147483649.0f && v < 2147483648.0f))
        throw Refusal(file, "channel " + intText(channel) + " holds an intensity that is not a finite " +
                                "32-bit count (" + fixedText(v, 0) + ")");
    return static_cast<std::int32_t>(v);
}

// Refuses a file whose first two bytes are not a DAT file's, naming what they are when they are
// another known file's. Framing written as zeros is read as the writer's framing would be.
void checkDatStart(const Bytes& b, const std::string& file)
{
    const bool startByte = b.size() < 1 || b[0] == 0x4B || b[0] == 0;
    const bool framingByte = b.size() < 2 || b[1] == 0x02 || b[1] == 0;
    if (startByte && framingByte)
        return;
    const auto starts = [&b](std::string_view s) {
        return b.size() >= s.size() && std::equal(s.begin(), s.end(), b.begin(), [](char c, std::uint8_t u) {
                   return static_cast<std::uint8_t>(c) == u;
               });
    };
    std::string begins;
    if (starts("\x89PNG"))
        begins = "0x89 \"PNG\", as a PNG image does";
    else if (starts("RAW"))
        begins = "\"RAW\", as a RAW file does";
    else if (starts("\x4B\x64"))
        begins = "0x4B 0x64, as a CAL file does";
    else {
        static constexpr char kHex[] = "0123456789ABCDEF";
        for (std::size_t k = 0; k < std::min<std::size_t>(b.size(), 2); ++k) {
            begins += k == 0 ? "0x" : " 0x";
            begins += kHex[b[k] >> 4];
            begins += kHex[b[k] & 0xF];
        }
        begins += ", not 0x4B 0x02";
    }
    throw Refusal(file, "not a DAT file (it begins with " + begins + ")");
}

} // namespace

const std::uint64_t TLitdat::kDatMaxSize = kDataStart + (kDataCapacity / 32) * kBlock + 1;

std::string TLitdat::datCalName(const Bytes& head)
{
    // H[330..338] lie in the third header block: file offset 5 + 2 x 130 + 1 + 73.
    constexpr std::size_t kAt = kHeaderStart + 2 * kBlock + 1 + (330 - 1 - 2 * 128);
    if (head.size() < kAt + 9)
        return {};
    return std::string(reinterpret_cast<const char*>(head.data()) + kAt, 9);
}

bool TLitdat::Lect_Dat(const std::string& FileName, TScanHeader& Header, TScanParams& Params, TData& Data)
{
    const auto bytes = fsio::tryReadFile(FileName, {kDatMaxSize, "DAT"});
    if (!bytes)
        return false;
    checkDatStart(*bytes, FileName);
    ByteReader r(*bytes, FileName);

    r.seek(2);
    const int size = r.u16(); // offset 2
    if (size > kDataCapacity)
        throw Refusal(FileName, "declares " + intText(size) + " channels; at most " + intText(kDataCapacity) +
                                    " can be read");
    r.seek(kWavelengthOffset);
    const double wavelength = r.f64(); // offset 512

    std::string h;
    h.reserve(1024);
    r.seek(kHeaderStart);
    for (int k = 0; k < 8; ++k) { // offset 5 + k * 130
        r.skip(1);
        h.append(r.chars(128));
        r.skip(1);
    }

    const int blocks = size / 32;
    r.seek(kDataStart); // offset 1045
    r.peek(static_cast<std::size_t>(blocks) * kBlock); // the whole data must be there
    std::vector<std::int32_t> counts(static_cast<std::size_t>(blocks) * 32);
    for (int b = 0; b < blocks; ++b) {
        r.skip(1);
        for (int k = 0; k < 32; ++k) {
            const int i = b * 32 + k;
            counts[static_cast<std::size_t>(i)] = countOf(r.f32(), FileName, i + 1);
        }
        r.skip(1);
    }

    // Everything read and checked: fill the caller's records.
    Header.Wavelength = wavelength;
    Header.Size = size;
    Params.AcqTime = acquisitionTime(h);
    Header.Date = field(h, 1, 20);
    Header.Comment1 = field(h, 90, 80);
    Header.Comment2 = field(h, 170, 80);
    Header.Comment3 = field(h, 250, 80);
    Header.CalName = field(h, 330, 9);
    Header.Voltage = field(h, 540, 9);
    Header.Current = field(h, 550, 9);
    for (int i = 1; i <= blocks * 32; ++i)
        Data[i] = counts[static_cast<std::size_t>(i - 1)];
    // Channels that the count names but no whole block holds are zero, not the previous scan's.
    for (int i = blocks * 32 + 1; i <= size; ++i)
        Data[i] = 0;
    if (size == 8191) // the detector's last 32 channels carry no counts
        for (int i = 8160; i <= 8191; ++i)
            Data[i] = 0;
    return true;
}

void TLitdat::Ecr_DAT(const std::string& FileName, const TScanHeader& Header, const TScanParams& Params,
                      const TData& Data)
{
    if (Header.Size > kDataCapacity)
        throw Refusal(FileName, "cannot write " + intText(Header.Size) + " channels; at most " +
                                    intText(kDataCapacity) + " fit in the count block");
    std::string h(1024, ' ');
    auto put = [&h](int first, std::string_view s) { h.replace(static_cast<std::size_t>(first - 1), s.size(), s); };
    put(1, Header.Date.view());
    put(21, Header.Date.view());
    std::string acq = fixedText(Params.AcqTime, 0, 5).substr(0, 5);
    for (char& c : acq)
        if (c == ' ')
            c = '0';
    put(66, acq);
    put(330, Header.CalName.area().substr(0, 9));
    h[510] = '\0'; // H[511]
    put(540, Header.Voltage.view());
    put(550, Header.Current.view());
    put(90, Header.Comment1.area());
    put(170, Header.Comment2.area());
    put(250, Header.Comment3.area());

    const int blocks = Header.Size > 0 ? Header.Size / 32 : 0;
    ByteWriter w(kDataStart + static_cast<std::size_t>(blocks) * kBlock + 1);
    w.u8(0x4B);
    w.u8(2);
    w.u16(static_cast<std::uint16_t>(Header.Size & 0xFFFF));
    w.u8(2);
    for (int k = 0; k < 8; ++k) {
        const std::uint8_t frame = k < 7 ? 0x81 : 0x80;
        w.u8(frame);
        w.chars(std::string_view(h).substr(static_cast<std::size_t>(k) * 128, 128));
        w.u8(frame);
    }
    for (int b = 1; b <= blocks; ++b) {
        const std::uint8_t frame = (b % 2 == 1) ? 0x81 : 0x80;
        w.u8(frame);
        for (int k = 1; k <= 32; ++k)
            w.f32(static_cast<float>(Data[(b - 1) * 32 + k]));
        w.u8(frame);
    }
    w.u8(0x82);
    w.putAt(kWavelengthOffset, Header.Wavelength);
    fsio::writeFileAtomic(FileName, w.bytes());
}

} // namespace rawdat
