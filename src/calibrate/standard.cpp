#include "calibrate/standard.h"

#include "ulit_dat/errors.h"
#include "ulit_dat/numtext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

namespace rawdat::calib {

namespace {

enum class Lattice { Primitive, Diamond, FaceCentred };

struct Cubic {
    const char* key;
    const char* title;
    double a; // cell edge, angstroms
    Lattice lattice;
};

// NIST SRM 660c (LaB6), 640d (Si), 674b (CeO2).
constexpr Cubic kStandards[] = {
    {"lab6", "LaB6", 4.156826, Lattice::Primitive},
    {"si", "Si", 5.431179, Lattice::Diamond},
    {"ceo2", "CeO2", 5.411651, Lattice::FaceCentred},
};

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

const Cubic* find(std::string_view name)
{
    const std::string key = lower(name);
    for (const Cubic& s : kStandards)
        if (key == s.key)
            return &s;
    return nullptr;
}

bool allowed(Lattice lattice, int h, int k, int l)
{
    const bool allOdd = (h % 2) && (k % 2) && (l % 2);
    const bool allEven = !(h % 2) && !(k % 2) && !(l % 2);
    switch (lattice) {
    case Lattice::Primitive: return true;
    case Lattice::FaceCentred: return allOdd || allEven;
    case Lattice::Diamond: return allOdd || (allEven && (h + k + l) % 4 == 0);
    }
    return false;
}

std::string hklText(int h, int k, int l)
{
    if (h < 10)
        return std::to_string(h) + std::to_string(k) + std::to_string(l);
    return std::to_string(h) + " " + std::to_string(k) + " " + std::to_string(l);
}

} // namespace

bool isStandardName(std::string_view name)
{
    return find(name) != nullptr;
}

std::string standardTitle(std::string_view name)
{
    const Cubic* s = find(name);
    return s ? s->title : std::string(name);
}

std::vector<Reflection> standardReflections(std::string_view name, double dMin)
{
    const Cubic* s = find(name);
    if (!s)
        throw Refusal({}, "unknown standard " + std::string(name) + " (lab6, si or ceo2)");
    if (!(dMin > 0.0))
        return {};
    // h >= k >= l >= 0 names each family once; the largest N = h^2 + k^2 + l^2 that reaches dMin.
    const int maxN = static_cast<int>(std::floor(s->a * s->a / (dMin * dMin)));
    const int maxH = static_cast<int>(std::floor(std::sqrt(double(maxN))));
    std::map<int, std::string> byN;
    for (int h = 1; h <= maxH; ++h)
        for (int k = 0; k <= h; ++k)
            for (int l = 0; l <= k; ++l) {
                const int n = h * h + k * k + l * l;
                if (n > maxN || !allowed(s->lattice, h, k, l))
                    continue;
                std::string& label = byN[n];
                // The family with the largest h first: "300+221".
                label = label.empty() ? hklText(h, k, l) : hklText(h, k, l) + "+" + label;
            }
    std::vector<Reflection> out;
    for (const auto& [n, label] : byN)
        out.push_back({label, s->a / std::sqrt(double(n))});
    return out;
}

std::vector<Reflection> readLines(const std::string& text, const std::string& file)
{
    std::vector<Reflection> out;
    std::size_t at = 0;
    for (int lineNo = 1; at < text.size() || lineNo == 1; ++lineNo) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        if (const auto hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
        while (!line.empty() && blank(line.front()))
            line.remove_prefix(1);
        while (!line.empty() && blank(line.back()))
            line.remove_suffix(1);
        if (line.empty()) {
            if (at > text.size())
                break;
            continue;
        }
        double d = 0.0;
        const auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), d);
        if (ec != std::errc() || ptr != line.data() + line.size())
            throw Refusal(file, "line " + intText(lineNo) + " is not a d-spacing: " + std::string(line));
        if (!(d > 0.0) || !std::isfinite(d))
            throw Refusal(file, "line " + intText(lineNo) + ": a d-spacing must be positive");
        out.push_back({"d=" + std::string(line), d});
        if (at > text.size())
            break;
    }
    if (out.empty())
        throw Refusal(file, "no d-spacing in the file");
    std::sort(out.begin(), out.end(), [](const Reflection& a, const Reflection& b) { return a.d > b.d; });
    return out;
}

} // namespace rawdat::calib
