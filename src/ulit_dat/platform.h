// The operating system under the file layer: the few calls that differ between POSIX and Windows,
// each with one meaning on both. platform_posix.cpp and platform_win32.cpp implement it; nothing
// else includes <unistd.h> or <windows.h>.
//
// Paths are UTF-8 strings on both systems (Windows names are converted to and from UTF-16 here).
// A call that fails returns its failure value and leaves the reason in errno, as an errno value,
// or kSharingViolation for a file another program holds open without sharing it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace rawdat::platform {

// A file held open by another program that forbids what was asked (Windows only).
inline constexpr int kSharingViolation = 0x10020;
// The longest whole path the system takes.
extern const std::size_t kPathMax;

// An open file: a descriptor, or a handle.
using Fd = std::intptr_t;
inline constexpr Fd kNoFd = -1;

struct Status {
    enum class Kind { Regular, Folder, Link, Fifo, Socket, Device, Other };
    Kind kind = Kind::Other;
    std::uint64_t size = 0;
    std::uint64_t device = 0; // with inode: the file's identity (volume serial and file index)
    std::uint64_t inode = 0;
    int mode = 0; // permission bits; a file marked read-only has no write bit
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
};
// The status of `path`, symbolic links followed or not; nullopt (errno set) when it has none.
std::optional<Status> status(const std::string& path, bool followLinks = true);
std::optional<Status> status(Fd fd);

// `path` as the standard library's path, and back: UTF-8 on both sides.
std::filesystem::path fsPath(const std::string& path);
std::string utf8(const std::filesystem::path& path);

// Opens a regular file for reading without waiting on it; kNoFd when it cannot be opened.
Fd openForReading(const std::string& path);
// Creates `path`, which must not exist, for writing; kNoFd (EEXIST when it exists) otherwise.
Fd createExclusive(const std::string& path);
// Gives the file open as `fd` the permission bits, and as far as the process may the owner and
// group, of `previous`.
void passOn(Fd fd, const Status& previous);
// Reads or writes up to `n` bytes, retrying interrupted calls: the count, or -1.
long long read(Fd fd, void* buf, std::size_t n);
long long write(Fd fd, const void* buf, std::size_t n);
// Flushes a written file's data to the disk: 0, or the error (none where the file system cannot).
int syncToDisk(Fd fd);
// 0, or -1.
int close(Fd fd);
// std::fopen with a UTF-8 name (binary modes only).
std::FILE* openStream(const std::string& path, const char* mode);

// 0 or -1.
int removeFile(const std::string& path);
// Renames `from` over `to`, replacing it.
int replace(const std::string& from, const std::string& to);
// A second name `to` for the file `from`.
int hardLink(const std::string& from, const std::string& to);
// Renames `from` to `to` only if no file has that name, atomically: 0 when placed, -1 with errno
// EEXIST when one has, or another errno when the file system cannot (EINVAL, ENOSYS, ENOTSUP).
int renameNoReplace(const std::string& from, const std::string& to);

// The identity of a folder and whether it ignores letter case in names.
struct FolderStatus {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool ignoresCase = false;
};
std::optional<FolderStatus> folderStatus(const std::string& folder);
// A folder opened for its identity (status(fd)) and its lock; kNoFd when it cannot be opened.
Fd openFolder(const std::string& folder);
// Takes an exclusive lock on the folder open as `folder`, waiting for another process's: true
// with `lock` to hand to unlockFolder(), false when the file system has no locks.
bool lockFolder(Fd folder, Fd& lock);
// Releases the lock and closes the folder.
void unlockFolder(Fd folder, Fd lock);

// 0 when this process may create files in `folder`; else -1 with errno.
int accessForWriting(const std::string& folder);
// Opens each of the standard streams that is closed on the null device, and puts them in binary
// mode (no CR added before LF). False when one could not be opened.
bool prepareStandardStreams();
// Whether standard error is a terminal.
bool stderrIsTerminal();
int processId();

// The program's arguments in UTF-8 (argv itself on POSIX, the wide command line on Windows).
std::vector<std::string> arguments(int argc, char** argv);
// Whether arguments are expanded by the program (`*` and `?`) rather than by the shell.
bool expandsWildcards();

// The stop signals: `onStop` is called with the signal's number from a handler (it only stores
// to lock-free atomics); signals ignored by whoever started the program stay ignored. On Windows
// Ctrl-C is SIGINT, Ctrl-Break SIGBREAK, closing the console SIGHUP; after a close `onClose` runs
// before the process is ended.
void catchStopSignals(void (*onStop)(int), void (*onClose)());
// "SIGINT", "SIGTERM", "SIGHUP", "SIGBREAK".
const char* signalName(int sig);
// Ignores the signals that would end the program on a closed pipe or past a file-size limit: the
// write then fails instead.
void ignoreWriteSignals();

} // namespace rawdat::platform
