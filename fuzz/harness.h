// What every fuzzer shares: a scratch folder per process where inputs become files (the readers
// take a path), the rule for errors, and record comparisons that see every bit of a value.
//
// Each fuzzer defines LLVMFuzzerTestOneInput. Built with -fsanitize=fuzzer it is a libFuzzer
// target; otherwise replay.cpp gives it a main that runs every file of the folders or files it is
// given, so the committed corpus runs under CTest.
//
// A fuzzer stops the process (abort, which libFuzzer records as a crash) when the code under test
// breaks one of its promises: an exception that is not a RawdatError, a reader that changes the
// caller's records and then fails, a reader that returns false for a file that exists, a file it
// reads back differently from what it wrote, a failed conversion that leaves an output file.
#pragma once

#include "ulit_dat/errors.h"
#include "ulit_dat/records.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace rawdat::fuzz {

// The folder of this process: /dev/shm/rawdat-fuzz-PID (or under the system's temporary folder),
// emptied on each input and removed when the process ends.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    // Removes everything in the folder.
    void clear() const;
    // Writes bytes as the file `name` of the folder and returns its path.
    std::string write(const std::string& name, const std::uint8_t* data, std::size_t size) const;
    std::string write(const std::string& name, std::string_view bytes) const
    {
        return write(name, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    // Names of the files now in the folder, sorted.
    std::vector<std::string> files() const;

private:
    std::filesystem::path folder_;
};

// The one scratch folder of the process, emptied.
const Scratch& freshScratch();

// Stops the process with a message naming the broken promise.
[[noreturn]] void fault(const std::string& what);

// Runs f. True when it returned, false when it raised a RawdatError (a defined failure); any other
// exception is a fault.
template <class F> bool succeeds(F&& f)
{
    try {
        f();
        return true;
    } catch (const RawdatError&) {
        return false;
    } catch (const std::exception& e) {
        fault(std::string("an exception that is not a RawdatError: ") + e.what());
    } catch (...) {
        fault("an exception that is not a std::exception");
    }
}

// Bitwise equality, so that two NaN with the same bits compare equal.
template <class T> bool sameBits(const T& a, const T& b)
{
    static_assert(std::is_trivially_copyable_v<T>);
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// The records a scan reader fills. Data is 128 KB: fuzzers keep their records in static storage
// and copy a marked set over them for each input, since a fresh allocation for each input (zeroed
// pages, unmapped again) costs far more than the reader.
struct ScanRecords {
    TScanHeader h;
    TScanParams p;
    TData d;
};

// Records filled with values that no reader produces, to see what a reader changed.
ScanRecords markedRecords();
const ScanRecords& marked(); // made once
TCalibration markedCalibration();

bool sameRecords(const ScanRecords& a, const ScanRecords& b);
bool sameHeader(const TScanHeader& a, const TScanHeader& b);
bool sameParams(const TScanParams& a, const TScanParams& b);
bool sameCalibration(const TCalibration& a, const TCalibration& b);
// Entries from..to of two count blocks.
bool sameCounts(const TData& a, const TData& b, int from, int to);

// Runs a scan reader on `scan`, marked first; `read(scan)` returns the reader's Boolean. False when
// the reader failed with a RawdatError, after checking that it changed nothing. When it returned:
// it did not return false (the file exists), Size lies in 0..32767 and, with `onlyToSize`, no
// count beyond Size changed.
template <class Read> bool readScan(const std::string& reader, ScanRecords& scan, bool onlyToSize, Read read)
{
    scan = marked();
    bool opened = false;
    if (!succeeds([&] { opened = read(scan); })) {
        if (!sameRecords(scan, marked()))
            fault(reader + " failed and changed the records");
        return false;
    }
    if (!opened)
        fault(reader + " returned false for a file that exists");
    const int n = scan.h.Size;
    if (n < 0 || n > kDataCapacity)
        fault(reader + " gave Size " + std::to_string(n));
    if (onlyToSize && !sameCounts(scan.d, marked().d, n + 1, kDataCapacity))
        fault(reader + " changed counts beyond Size");
    return true;
}

// Splits an input into its first part (its length in the first two bytes, little-endian, cut to
// what remains) and the rest: how a fuzzer that needs two files takes them from one input.
struct TwoParts {
    std::string_view first;
    std::string_view second;
};
TwoParts splitInput(const std::uint8_t* data, std::size_t size);
// The inverse, for the seed generator.
std::string joinParts(std::string_view first, std::string_view second);

} // namespace rawdat::fuzz
