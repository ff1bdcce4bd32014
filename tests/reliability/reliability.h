// Helpers of the reliability tests: a folder's files with their bytes, and the scans and files
// the tests cut, break and fail to write.
#pragma once

#include "fixtures.h"
#include "testutil.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace rawdat::test {

using FolderImage = std::map<std::string, std::vector<std::uint8_t>>;

// Every file of a folder (names and bytes).
FolderImage folderImage(const std::filesystem::path& folder);
// Names of the folder's entries that look like temporaries of an atomic write (.NAME.tmpN).
std::vector<std::string> temporaries(const std::filesystem::path& folder);

// The bytes a writer produces, through the file `name` of a scratch folder.
template <class Write> std::vector<std::uint8_t> bytesWritten(const std::string& name, Write write)
{
    TempDir dir;
    const std::string path = dir.file(name);
    write(path);
    return readBytes(path);
}

// The shell command that runs rawdat-convert: RAWDAT_CONVERT_COMMAND when it is set (the Windows
// converter under wine), else the converter of this build, quoted.
std::string converterCommand();
// Whether the converter run is the Windows one.
bool convertsOnWindows();
// An absolute path of this machine as the converter spells it: under wine, the drive Z: holds
// the root, and the separator is a backslash.
std::string asConverterSpellsIt(const std::string& path);

// A DAT file, S.DAT, with its line calibration C.CAL in `dir`; returns the DAT file's path.
std::string writeDatWithCalibration(const TempDir& dir, int channels);
// A RAW2 file written by Ecr_RAW of `steps` steps; returns its path.
std::string writeRaw2(const TempDir& dir, const std::string& name, int steps);
// An FDT file of one scan of 1024 channels; returns its path.
std::string writeFdt(const TempDir& dir, const std::string& name);
// run.F1B of `scans` scans of `n` channels and its parameter file run.par.
void writeF1bFiles(const TempDir& dir, int n, int scans);

// One command run with a fresh state, as the command-line converter runs it.
struct CommandRun {
    bool ok = false;
    std::vector<std::string> errors;
    std::vector<std::string> asked;
};
CommandRun runDatCommand(const std::string& path, bool overwrite = true);
CommandRun runRawCommand(const std::string& path, bool overwrite = true);
// lect_F1B of run.par and run.F1B in `dir`.
CommandRun runF1bConversion(const TempDir& dir);

} // namespace rawdat::test
