#include "convert_ui.h"

#include "harness.h"

#include <fstream>
#include <iterator>
#include <memory>

namespace rawdat::fuzz {

TRawDatState& freshState()
{
    static TRawDatState s;
    if (!s.Data)
        s.Data = std::make_unique<TData>();
    s.DatFileName.clear();
    s.RawFileName.clear();
    s.CalFileName.clear();
    s.CalibOK = false;
    s.LastCalibPath.clear();
    s.TabX->fill(0.0f);
    s.TabY->fill(0.0f);
    s.Data->fill(0);
    s.Header = TScanHeader{};
    s.Params = TScanParams{};
    s.Calibration = TCalibration{};
    s.Raw = RawModule{};
    return s;
}

int twoColumnLines(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return -1;
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    int n = 0;
    for (std::size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2)
        ++n;
    return n;
}

void checkWrittenPattern(const std::string& raw, const std::string& twoColumn, const TRawDatState& state)
{
    const int n = state.Header.Size;
    if (twoColumnLines(twoColumn) != n)
        fault("the two-column file does not hold one line per converted point");
    RawModule m;
    static ScanRecords back;
    if (!succeeds([&] { Lect_RAW(m, raw, back.h, back.p, back.d); }))
        fault("Lect_RAW failed on the RAW file of the DAT command");
    // The RAW file stores each count as a Single: counts beyond 2^24 come back as their Single.
    if (back.h.Size != n)
        fault("the RAW file of the DAT command holds another number of points than the conversion");
    for (int i = 1; i <= n; ++i)
        if (back.d[i] != static_cast<std::int32_t>(static_cast<float>((*state.Data)[i])))
            fault("the RAW file of the DAT command holds other counts than the converted pattern");
    if (!sameBits(m.RangeInfo.Start, state.Raw.RangeInfo.Start) ||
        !sameBits(m.RangeInfo.Step, state.Raw.RangeInfo.Step))
        fault("the RAW file of the DAT command holds another start or step than the conversion");
}

} // namespace rawdat::fuzz
