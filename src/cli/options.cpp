#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <getopt.h>
#include <stdexcept>
#include <thread>

namespace rawdat::cli {

namespace {

enum LongOnly { kCal = 256, kAlso };

constexpr const char* kShort = "+:fj:qhVo:n";
const option kLong[] = {
    {"force", no_argument, nullptr, 'f'},        {"jobs", required_argument, nullptr, 'j'},
    {"quiet", no_argument, nullptr, 'q'},        {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},      {"output-dir", required_argument, nullptr, 'o'},
    {"dry-run", no_argument, nullptr, 'n'},      {"cal", required_argument, nullptr, kCal},
    {"also", required_argument, nullptr, kAlso}, {nullptr, 0, nullptr, 0},
};

// The option as the user wrote it, for messages: "-j" or "--jobs".
std::string optionName(int code)
{
    for (const option& o : kLong)
        if (o.name && o.val == code)
            return code < 256 ? std::string("-") + static_cast<char>(code) + "/--" + o.name
                              : std::string("--") + o.name;
    return std::string("-") + static_cast<char>(code);
}

Parsed usageError(std::string message)
{
    Parsed p;
    p.action = Action::UsageError;
    p.error = "rawdat-convert: " + std::move(message);
    return p;
}

} // namespace

bool isSubcommand(std::string_view word)
{
    return word == "info" || word == "f1b" || word == "export-steps" || word == "calibrate";
}

Parsed parseOptions(int argc, char** argv)
{
    Parsed p;
    Options& o = p.options;
    std::vector<int> seen; // the options given, for a subcommand that takes few
    opterr = 0; // our own messages, without the program's full path
    optind = 0; // a fresh scan, also when called more than once
    // In order: options are taken up to an operand, which is kept, and so on; "--" ends them.
    int after = 1; // the argument after the last one taken
    for (;;) {
        const int c = getopt_long(argc, argv, kShort, kLong, nullptr);
        if (c == -1) {
            if (optind >= argc)
                break;
            const bool ended = optind == after + 1 && std::string_view(argv[after]) == "--";
            if (ended) {
                for (int i = optind; i < argc; ++i)
                    o.files.emplace_back(argv[i]);
                break;
            }
            const std::string word = argv[optind];
            if (isSubcommand(word)) {
                if (!o.files.empty())
                    return usageError("'" + word + "' is a subcommand and comes first; a file of that name is "
                                      "given as ./" + word);
                for (int code : seen) {
                    const bool forWriting = code == 'f' && word != "info";
                    const bool quietly = code == 'q' && word != "calibrate"; // its report is its output
                    if (!quietly && !forWriting)
                        return usageError("option " + optionName(code) + " does not apply to " + word);
                }
                p.action = Action::Subcommand;
                p.subcommand = word;
                for (int i = optind + 1; i < argc; ++i)
                    p.operands.emplace_back(argv[i]);
                return p;
            }
            o.files.push_back(word);
            after = ++optind;
            continue;
        }
        after = optind;
        seen.push_back(c);
        switch (c) {
        case 'f': o.force = true; break;
        case 'q': o.quiet = true; break;
        case 'n': o.dryRun = true; break;
        case 'h': p.action = Action::Help; return p;
        case 'V': p.action = Action::Version; return p;
        case 'o': o.outputDir = optarg; break;
        case kCal: o.calFile = optarg; break;
        case 'j': {
            const std::string v = optarg;
            int n = -1;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (v.empty() || ec != std::errc() || end != v.data() + v.size() || n < 0 || n > 256)
                return usageError("-j/--jobs needs a number from 0 (one per core) to 256, not '" + v + "'");
            o.jobs = n == 0 ? static_cast<int>(std::max(1u, std::thread::hardware_concurrency())) : n;
            break;
        }
        case kAlso: try {
                // Repeated, the lists add up.
                std::string all;
                for (XyFormat f : o.also)
                    all += std::string(xyExtension(f)) + ",";
                o.also = parseXyFormats(all + optarg);
            } catch (const std::invalid_argument& e) {
                return usageError(e.what());
            }
            break;
        case ':': {
            // MinGW's getopt_long answers --help=x here too: a value given is not one missing.
            const std::string_view given(argv[optind - 1]);
            if (given.substr(0, 2) == "--" && given.find('=') != std::string_view::npos)
                return usageError("option " + optionName(optopt) + " takes no value");
            return usageError("option " + optionName(optopt) + " needs a value");
        }
        default: // '?'
            // A long option that takes no value given one (--help=x) is named as it is known.
            if (optopt != 0 && std::string_view(argv[optind - 1]).substr(0, 2) == "--")
                return usageError("option " + optionName(optopt) + " takes no value");
            if (optopt != 0)
                return usageError(std::string("unknown option '-") + static_cast<char>(optopt) + "'");
            return usageError("unknown option '" + std::string(argv[optind - 1]) + "'");
        }
    }
    for (const std::string& f : o.files)
        if (f == "-")
            return usageError("'-' is not a file name: rawdat-convert reads and writes files, not standard "
                              "input or output");
    if (o.files.empty())
        return usageError("no FILE given");
    return p;
}

} // namespace rawdat::cli
