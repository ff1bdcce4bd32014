// Every refusal of bad content, end to end: through the command (or library routine) that meets
// it, with its exact message and error type, and through rawdat-convert, with its line on
// standard error and exit status 1. Each time no output file is written and every file that was
// there (inputs, earlier outputs) is byte for byte as it was.
#include "bad_values.h"

#include "fmt_raw/raw.h"
#include "ulit_dat/dtb.h"
#include "ulit_dat/errors.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sys/wait.h>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

namespace {

struct Failure {
    Kind kind;
    std::string message;
};

// The case in this process: the error that ends it, or nullopt when nothing failed.
std::optional<Failure> runInProcess(Via via, const std::string& path)
{
    TLitdat lit;
    TRawDatState state;
    RecordingUi ui;
    ui.nextFile = path;
    TConversion conv(state, lit, ui);
    auto scan = std::make_unique<DatScan>();
    TCalibration cal;
    try {
        switch (via) {
        case Via::DatCommand: conv.Bt_datClick(); break;
        case Via::RawCommand: conv.Bt_RAWClick(); break;
        case Via::F1b:
            lit.lect_F1B(replaceExtension(path, "par"), path, scan->p, scan->h, scan->d, cal);
            break;
        case Via::Fdt:
        case Via::FdtRecord: lit.LoadScanFDT(1, path, true, scan->p, scan->h, scan->d); break;
        case Via::Dtb: {
            TDtbHeader h;
            TDtbEntries e;
            lit.Lect_DTB(path, h, e);
            break;
        }
        case Via::ExportSteps: return std::nullopt; // a command of rawdat-convert only
        case Via::TxtReader: lit.Lect_TXT(path, scan->h, scan->p, scan->d); break;
        }
    } catch (const Refusal& e) {
        return Failure{Kind::Refusal, e.what()};
    } catch (const InOutError& e) {
        return Failure{Kind::InOut, e.what()};
    } catch (const FloatError& e) {
        return Failure{Kind::Float, e.what()};
    }
    return std::nullopt;
}

struct CliRun {
    int status = -1;
    std::string err;
};

// rawdat-convert with `args`, each given whole (no shell quoting is needed: paths of a TempDir).
CliRun runCli(const TempDir& scratch, const std::vector<std::string>& args)
{
    std::string cmd = std::string("'") + RAWDAT_CONVERT + "'";
    for (const auto& a : args)
        cmd += " '" + a + "'";
    const std::string errFile = scratch.file("stderr");
    cmd += " >/dev/null 2>'" + errFile + "'";
    CliRun r;
    const int st = std::system(cmd.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = readText(errFile);
    return r;
}

// The arguments of rawdat-convert for a case, and the lines it must print for `message`.
std::optional<std::pair<std::vector<std::string>, std::string>> cliCase(Via via, const std::string& path,
                                                                        const std::string& message)
{
    // --force for every command: the folder holds earlier outputs, which a failure leaves as
    // they were. The converter names the file once: not again inside the message.
    std::string once = message.rfind(path + ": ", 0) == 0 ? message.substr(path.size() + 2) : message;
    for (const auto& [from, to] :
         {std::pair{"(" + path + ", ", std::string("(")}, std::pair{" (" + path + ")", std::string()}})
        if (const auto at = once.find(from); at != std::string::npos)
            once.replace(at, from.size(), to);
    const std::string line = path + ": " + once + "\n";
    switch (via) {
    case Via::DatCommand:
    case Via::RawCommand: return {{{"--force", path}, line + "1 file: 0 converted, 1 failed\n"}};
    case Via::F1b: return {{{"f1b", "--force", replaceExtension(path, "par"), path}, line}};
    case Via::Fdt:
    case Via::Dtb: return {{{"info", path}, line}};
    case Via::ExportSteps: return {{{"export-steps", "--force", path, replaceExtension(path, "stp")}, line}};
    case Via::TxtReader:
    case Via::FdtRecord: return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

TEST(BadValues, EachRefusalWithItsMessageAndNoFileWritten)
{
    for (const BadValue& row : badValues()) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const std::string path = row.make(dir);
        const std::string message = inFolder(row.message, dir);
        const FolderImage before = folderImage(dir.path());

        if (row.via != Via::ExportSteps) {
            const auto failure = runInProcess(row.via, path);
            if (!failure) {
                ADD_FAILURE() << row.what << ": no error";
            } else {
                EXPECT_EQ(failure->message, message) << row.what;
                EXPECT_EQ(static_cast<int>(failure->kind), static_cast<int>(row.kind)) << row.what;
            }
            EXPECT_EQ(folderImage(dir.path()), before) << row.what << ": files changed";
        }

        const std::string cliMessage = row.cliMessage.empty() ? message : inFolder(row.cliMessage, dir);
        if (const auto cli = cliCase(row.via, path, cliMessage)) {
            TempDir scratch;
            const CliRun r = runCli(scratch, cli->first);
            EXPECT_EQ(r.status, 1) << row.what;
            EXPECT_EQ(r.err, cli->second) << row.what;
            EXPECT_EQ(folderImage(dir.path()), before) << row.what << ": rawdat-convert changed files";
        }
    }
}
