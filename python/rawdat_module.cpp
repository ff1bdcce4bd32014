// The Python module `rawdat`: the same reader and converter as rawdat-convert.
//
//   rawdat.read(path)  -> Pattern: .x, .y (numpy arrays), .header (the object of
//                         `rawdat-convert info --json`), .ranges (its "ranges")
//   rawdat.convert(path, force=False, also=(), output_dir=None) -> the paths written
//   rawdat.Error       raised with the converter's "FILE: message"
#include "convert/batch.h"
#include "convert/headless_ui.h"
#include "convert/info_json.h"
#include "convert/xy_export.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <charconv>
#include <filesystem>
#include <stdexcept>

namespace py = pybind11;
using namespace rawdat;

namespace {

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

py::object toPython(const nlohmann::ordered_json& j)
{
    using T = nlohmann::ordered_json::value_t;
    switch (j.type()) {
    case T::null: return py::none();
    case T::boolean: return py::bool_(j.get<bool>());
    case T::number_integer: return py::int_(j.get<std::int64_t>());
    case T::number_unsigned: return py::int_(j.get<std::uint64_t>());
    case T::number_float: return py::float_(j.get<double>());
    case T::string: return py::str(j.get_ref<const std::string&>());
    case T::array: {
        py::list out;
        for (const auto& v : j)
            out.append(toPython(v));
        return out;
    }
    case T::object: {
        py::dict out;
        for (const auto& [k, v] : j.items())
            out[py::str(k)] = toPython(v);
        return out;
    }
    default: return py::none();
    }
}

// "FILE: message" as the converter prints it (without its escapes of control characters).
[[noreturn]] void fail(const std::string& given, const std::string& path, const std::string& message)
{
    throw Error((given.empty() ? std::string("\"\"") : given) + ": " + userMessage(given, path, message));
}

// A Single as the decimal it was written as.
double decimal(float v)
{
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    double d = 0;
    std::from_chars(buf, end, d);
    return d;
}

struct Pattern {
    py::array_t<double> x, y;
    py::object header, ranges;
};

Pattern readPattern(const std::string& given)
{
    nlohmann::ordered_json info = fileInfo(given);
    if (info.contains("error"))
        throw Error((given.empty() ? std::string("\"\"") : given) + ": " + info["error"].get<std::string>());
    const std::string kind = info["kind"];
    const std::string path = absolutePath(given);
    if (kind != "DAT" && kind != "RAW")
        fail(given, path, "not a pattern: a " + kind + " file (read takes DAT and RAW files)");
    TRawDatState state;
    TLitdat lit;
    HeadlessUi ui(path, false);
    TConversion conv(state, lit, ui);
    std::vector<double> x, y;
    try {
        if (kind == "DAT") {
            if (!conv.loadDat(path))
                fail(given, path, "file not opened");
            // Each channel at the angle of its calibration, or at its number without one.
            for (int i = 1; i <= state.Header.Size; ++i) {
                x.push_back(state.CalibOK ? lit.Degree(state.Calibration, i) : i);
                y.push_back((*state.Data)[i]);
            }
        } else {
            conv.loadRaw(path);
            // The grid of the main range with its Start and Step as the decimals they were written as.
            const TRangeInfo& r = state.Raw.RangeInfo;
            const double start = decimal(r.Start), step = decimal(r.Step);
            for (int i = 1; i <= state.Header.Size; ++i) {
                x.push_back(start + (i - 1) * step);
                y.push_back((*state.Data)[i]);
            }
        }
    } catch (const Error&) {
        throw;
    } catch (const std::exception& e) {
        fail(given, path, e.what());
    }
    Pattern p;
    p.x = py::array_t<double>(static_cast<py::ssize_t>(x.size()), x.data());
    p.y = py::array_t<double>(static_cast<py::ssize_t>(y.size()), y.data());
    p.header = toPython(info);
    p.ranges = p.header["ranges"];
    return p;
}

std::vector<std::string> convertFile(const std::string& given, bool force, const std::vector<std::string>& also,
                                 const std::optional<std::string>& outputDir)
{
    ConversionOptions options;
    if (!also.empty()) {
        std::string list;
        for (const std::string& f : also)
            list += (list.empty() ? "" : ",") + f;
        try {
            options.also = parseXyFormats(list);
        } catch (const std::invalid_argument& e) {
            throw Error(std::string("also: ") + e.what());
        }
    }
    if (outputDir) {
        std::error_code ec;
        if (!std::filesystem::is_directory(*outputDir, ec))
            throw Error("output_dir " + *outputDir + ": no such folder");
        options.outputDir = absolutePath(*outputDir);
    }
    options.existing = force ? ConversionOptions::Existing::Replace : ConversionOptions::Existing::Keep;
    options.planned = true;
    std::vector<BatchItem> items(1);
    items[0].given = given;
    {
        py::gil_scoped_release unlocked;
        planBatch(items, force, options, outputDir.value_or(""));
        if (items[0].state == BatchItem::State::Run) {
            try {
                convertBatchItem(items[0], force, options);
            } catch (const std::exception& e) {
                items[0].fail(e.what());
            }
        }
    }
    const BatchItem& it = items[0];
    if (it.state == BatchItem::State::Failed)
        fail(it.given, it.path, it.messages.back());
    std::vector<std::string> written;
    if (it.state == BatchItem::State::Converted)
        for (const PlannedOutput& o : it.outputs)
            written.push_back(o.path);
    return written;
}

} // namespace

PYBIND11_MODULE(rawdat, m)
{
    m.doc() = "Powder-diffraction detector files (DAT, CAL, RAW) read and converted as rawdat does.";
    py::register_exception<Error>(m, "Error");
    py::class_<Pattern>(m, "Pattern", "A pattern as read: x (degrees, or channels without a calibration), y (counts).")
        .def_readonly("x", &Pattern::x)
        .def_readonly("y", &Pattern::y)
        .def_readonly("header", &Pattern::header)
        .def_readonly("ranges", &Pattern::ranges)
        .def("__len__", [](const Pattern& p) { return p.x.size(); })
        .def("__repr__", [](const Pattern& p) {
            return "<rawdat.Pattern " + py::str(p.header["path"]).cast<std::string>() + ", " +
                   std::to_string(p.x.size()) + " points>";
        });
    m.def("read", &readPattern, py::arg("path"),
          "Reads a DAT or RAW file: a DAT file's channels at the angles of its calibration (found beside "
          "it, as the converter finds it), or at their numbers without one; a RAW file's main range.");
    m.def("convert", &convertFile, py::arg("path"), py::arg("force") = false, py::arg("also") = std::vector<std::string>{},
          py::arg("output_dir") = py::none(),
          "Converts one file as rawdat-convert does and returns the paths written, the main output first; "
          "without force a file any of whose outputs exists is kept whole and nothing is returned.");
    m.attr("__version__") = RAWDAT_VERSION;
}
