#ifdef _WIN32

#include "ulit_dat/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <io.h>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <shellapi.h>

namespace fs = std::filesystem;

namespace rawdat::platform {

// Past MAX_PATH a path goes to the system with the \\?\ prefix: the whole path's limit is then
// that of the wide functions.
const std::size_t kPathMax = 32767;

namespace {

std::wstring wide(const std::string& s)
{
    if (s.empty())
        return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string narrow(const std::wstring& w)
{
    if (w.empty())
        return {};
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

// The name the wide functions take: long paths made absolute with the \\?\ prefix (which also
// turns off the folding of trailing dots and spaces, and takes only backslashes).
std::wstring sys(const std::string& path)
{
    std::wstring w = wide(path.empty() ? std::string(".") : path);
    if (w.size() < 240 || w.rfind(L"\\\\?\\", 0) == 0)
        return w;
    const DWORD n = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return w;
    std::wstring full(n, L'\0');
    const DWORD got = ::GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
    full.resize(got);
    for (wchar_t& c : full)
        if (c == L'/')
            c = L'\\';
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// errno for the last Win32 error.
int fromWin32(DWORD e)
{
    switch (e) {
    // A missing folder on the way is a missing file, as on POSIX.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: return kSharingViolation;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION: return ENOTSUP;
    case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST: return ENOENT;
    default: return EIO;
    }
}

int failed()
{
    errno = fromWin32(::GetLastError());
    return -1;
}

HANDLE h(Fd f) { return reinterpret_cast<HANDLE>(f); }
Fd fd(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? kNoFd : reinterpret_cast<Fd>(handle); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What the handle's file is: identity, size, kind, read-only flag.
std::optional<Status> statusOf(HANDLE handle, bool followed)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        failed();
        return std::nullopt;
    }
    Status s;
    const DWORD a = info.dwFileAttributes;
    const DWORD type = ::GetFileType(handle);
    s.kind = !followed && (a & FILE_ATTRIBUTE_REPARSE_POINT) ? Status::Kind::Link
             : (a & FILE_ATTRIBUTE_DIRECTORY)               ? Status::Kind::Folder
             : type == FILE_TYPE_PIPE                       ? Status::Kind::Fifo
             : type == FILE_TYPE_CHAR                       ? Status::Kind::Device
                                                            : Status::Kind::Regular;
    s.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    s.device = info.dwVolumeSerialNumber;
    s.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    s.mode = (a & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    return s;
}

} // namespace

std::optional<Status> status(const std::string& path, bool followLinks)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    // Asking for no access opens a file another program holds without sharing.
    HANDLE file = ::CreateFileW(sys(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD e = ::GetLastError();
        if (e != ERROR_SHARING_VIOLATION && e != ERROR_ACCESS_DENIED) {
            failed();
            return std::nullopt;
        }
        // The attributes alone, without an identity.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(sys(path).c_str(), GetFileExInfoStandard, &data)) {
            failed();
            return std::nullopt;
        }
        Status s;
        s.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Status::Kind::Folder : Status::Kind::Regular;
        s.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        s.mode = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
        return s;
    }
    auto s = statusOf(file, followLinks);
    ::CloseHandle(file);
    return s;
}

std::optional<Status> status(Fd f)
{
    return statusOf(h(f), true);
}

fs::path fsPath(const std::string& path)
{
    return fs::path(wide(path));
}

std::string utf8(const fs::path& path)
{
    return narrow(path.wstring());
}

Fd openForReading(const std::string& path)
{
    HANDLE file = ::CreateFileW(sys(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        failed();
    return fd(file);
}

Fd createExclusive(const std::string& path)
{
    // Shared for deletion: the temporary can be removed by a stop handler while it is written.
    HANDLE file = ::CreateFileW(sys(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        failed();
    return fd(file);
}

void passOn(Fd, const Status&)
{
    // A replaced file's read-only flag was refused before; Windows files carry no permission bits
    // to pass on, and their access lists come from the folder.
}

long long read(Fd f, void* buf, std::size_t n)
{
    DWORD got = 0;
    if (!::ReadFile(h(f), buf, static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30)), &got, nullptr))
        return failed();
    return got;
}

long long write(Fd f, const void* buf, std::size_t n)
{
    DWORD put = 0;
    if (!::WriteFile(h(f), buf, static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30)), &put, nullptr))
        return failed();
    return put;
}

int syncToDisk(Fd f)
{
    if (::FlushFileBuffers(h(f)))
        return 0;
    const int e = fromWin32(::GetLastError());
    return e == ENOTSUP || e == EACCES ? 0 : e;
}

int close(Fd f)
{
    return ::CloseHandle(h(f)) ? 0 : failed();
}

std::FILE* openStream(const std::string& path, const char* mode)
{
    const std::wstring m = wide(mode);
    std::FILE* f = ::_wfopen(sys(path).c_str(), m.c_str());
    if (!f && ::GetLastError() == ERROR_SHARING_VIOLATION)
        errno = kSharingViolation;
    return f;
}

int removeFile(const std::string& path)
{
    return ::DeleteFileW(sys(path).c_str()) ? 0 : failed();
}

namespace {

// After a refused rename or removal: whether `path` is refused because another program holds it
// open without sharing it for deletion (an editor, a virus scanner), rather than by its rights.
void sayWhenHeld(const std::string& path)
{
    if (errno != EACCES)
        return;
    HANDLE probe = ::CreateFileW(sys(path).c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe != INVALID_HANDLE_VALUE)
        ::CloseHandle(probe);
    else if (::GetLastError() == ERROR_SHARING_VIOLATION)
        errno = kSharingViolation;
}

} // namespace

int replace(const std::string& from, const std::string& to)
{
    if (::MoveFileExW(sys(from).c_str(), sys(to).c_str(), MOVEFILE_REPLACE_EXISTING))
        return 0;
    failed();
    sayWhenHeld(to);
    return -1;
}

int hardLink(const std::string& from, const std::string& to)
{
    return ::CreateHardLinkW(sys(to).c_str(), sys(from).c_str(), nullptr) ? 0 : failed();
}

int renameNoReplace(const std::string& from, const std::string& to)
{
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name exists, atomically.
    return ::MoveFileExW(sys(from).c_str(), sys(to).c_str(), 0) ? 0 : failed();
}

std::optional<FolderStatus> folderStatus(const std::string& folder)
{
    const auto s = status(folder);
    if (!s || s->kind != Status::Kind::Folder)
        return std::nullopt;
    // NTFS and FAT folders ignore letter case unless a folder was made case-sensitive, which
    // ordinary tools do not do.
    return FolderStatus{s->device, s->inode, true};
}

Fd openFolder(const std::string& folder)
{
    HANDLE dir = ::CreateFileW(sys(folder).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return fd(dir);
}

bool lockFolder(Fd folder, Fd& lock)
{
    // A folder cannot be locked as a file: a mutex named by its identity stands for the lock.
    const auto s = status(folder);
    if (!s)
        return false;
    const std::wstring name = L"Local\\rawdat-folder-" + std::to_wstring(s->device) + L"-" + std::to_wstring(s->inode);
    HANDLE m = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (!m)
        return false;
    const DWORD r = ::WaitForSingleObject(m, INFINITE);
    if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) {
        ::CloseHandle(m);
        return false;
    }
    lock = reinterpret_cast<Fd>(m);
    return true;
}

void unlockFolder(Fd folder, Fd lock)
{
    if (lock != kNoFd) {
        ::ReleaseMutex(h(lock));
        ::CloseHandle(h(lock));
    }
    ::CloseHandle(h(folder));
}

int accessForWriting(const std::string& folder)
{
    const DWORD a = ::GetFileAttributesW(sys(folder).c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return failed();
    // The read-only flag of a folder does not forbid creating files in it; its access list is
    // found out by the write.
    return 0;
}

bool prepareStandardStreams()
{
    // The bytes printed are the bytes written: no CR before LF. (A stream the program was started
    // without has no descriptor: its writes fail, which the converter answers.)
    for (std::FILE* f : {stdout, stderr})
        if (::_fileno(f) >= 0)
            ::_setmode(::_fileno(f), _O_BINARY);
    return true;
}

bool stderrIsTerminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int processId()
{
    return static_cast<int>(::GetCurrentProcessId());
}

std::vector<std::string> arguments(int argc, char** argv)
{
    int n = 0;
    LPWSTR* w = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    if (!w)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.push_back(narrow(w[i]));
    ::LocalFree(w);
    return out;
}

bool expandsWildcards()
{
    return true;
}

namespace {

constexpr int kSigHup = 1;
void (*gOnStop)(int) = nullptr;
void (*gOnClose)() = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT: gOnStop(SIGINT); return TRUE;
    case CTRL_BREAK_EVENT: gOnStop(SIGBREAK); return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this returns: let the conversions in flight end, then remove
        // what is left.
        gOnStop(kSigHup);
        ::Sleep(500);
        if (gOnClose)
            gOnClose();
        return TRUE;
    default: return FALSE;
    }
}

} // namespace

void catchStopSignals(void (*onStop)(int), void (*onClose)())
{
    gOnStop = onStop;
    gOnClose = onClose;
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

const char* signalName(int sig)
{
    return sig == SIGINT ? "SIGINT" : sig == SIGBREAK ? "SIGBREAK" : sig == SIGTERM ? "SIGTERM" : "SIGHUP";
}

void ignoreWriteSignals()
{
    // Windows has no signal for a closed pipe or a file-size limit: the write fails.
}

} // namespace rawdat::platform

#endif
