// The one small file-system layer: whole-file reads, atomic whole-file writes, the test open of
// an existing file, and the case-insensitive look-up of a file in a folder. Errors carry the
// runtime's French texts and the file name.
//
// Writers build their file in memory and hand it to writeFileAtomic, which writes a temporary
// file in the target's folder and renames it over the target: a failure at any point leaves the
// previous file byte for byte intact and no temporary behind.
#pragma once

#include "ulit_dat/binio.h"

#include <optional>
#include <string>

namespace rawdat::fsio {

// Reads the whole file opened for reading only. nullopt when the file cannot be opened (missing,
// no access, a folder); an error after the open raises InOutError.
std::optional<Bytes> tryReadFile(const std::string& path);
// As tryReadFile, but an open failure raises InOutError with the runtime's text.
Bytes readFile(const std::string& path);

// Replaces (or creates) `path` with `bytes`, through a temporary file and a rename. A target
// that exists but is marked read-only is refused with "Accès au fichier refusé".
void writeFileAtomic(const std::string& path, const std::string_view bytes);
inline void writeFileAtomic(const std::string& path, const Bytes& bytes)
{
    writeFileAtomic(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Updates an existing file in place at `offset` (the file is opened for reading and writing,
// never created). Used for formats whose records are filled one at a time.
void writeInPlace(const std::string& path, std::size_t offset, const Bytes& bytes);

// True when `path` names an existing regular file that opens for reading and writing.
bool opensForWriting(const std::string& path);
// True when `path` names an existing regular file that opens for reading.
bool opensForReading(const std::string& path);

// `name` in `folder`: the exact name if it exists, else the first entry (in name order) whose
// name differs only in ASCII letter case, else the exact name (which then does not exist).
std::string findFileIgnoringCase(const std::string& folder, const std::string& name);

// Test hook for write-fault injection: the k-th file operation (create, write, flush, close,
// rename) from now on fails as a full disk would; 0 switches it off. Per thread.
namespace testing {
void failOperation(int k);
int operationsCounted();
} // namespace testing

} // namespace rawdat::fsio
