#ifndef _WIN32

#include "ulit_dat/platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#endif

namespace fs = std::filesystem;

namespace rawdat::platform {

const std::size_t kPathMax = PATH_MAX;

namespace {

Status fromStat(const struct stat& st)
{
    Status s;
    const mode_t m = st.st_mode;
    s.kind = S_ISREG(m)                    ? Status::Kind::Regular
             : S_ISDIR(m)                  ? Status::Kind::Folder
             : S_ISLNK(m)                  ? Status::Kind::Link
             : S_ISFIFO(m)                 ? Status::Kind::Fifo
             : S_ISSOCK(m)                 ? Status::Kind::Socket
             : S_ISCHR(m) || S_ISBLK(m)    ? Status::Kind::Device
                                           : Status::Kind::Other;
    s.size = static_cast<std::uint64_t>(st.st_size);
    s.device = static_cast<std::uint64_t>(st.st_dev);
    s.inode = static_cast<std::uint64_t>(st.st_ino);
    s.mode = static_cast<int>(m & 07777);
    s.owner = st.st_uid;
    s.group = st.st_gid;
    return s;
}

int fd(Fd f) { return static_cast<int>(f); }

} // namespace

std::optional<Status> status(const std::string& path, bool followLinks)
{
    struct stat st {};
    if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0)
        return std::nullopt;
    return fromStat(st);
}

std::optional<Status> status(Fd f)
{
    struct stat st {};
    if (::fstat(fd(f), &st) != 0)
        return std::nullopt;
    return fromStat(st);
}

fs::path fsPath(const std::string& path) { return fs::path(path); }
std::string utf8(const fs::path& path) { return path.string(); }

Fd openForReading(const std::string& path)
{
    return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

Fd createExclusive(const std::string& path)
{
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

void passOn(Fd f, const Status& previous)
{
    // A file replaced by root keeps its owner; chown before chmod, which it may clear.
    if (previous.owner != ::geteuid() || previous.group != ::getegid())
        (void)::fchown(fd(f), previous.owner, previous.group);
    (void)::fchmod(fd(f), static_cast<mode_t>(previous.mode));
}

long long read(Fd f, void* buf, std::size_t n)
{
    for (;;) {
        const ssize_t r = ::read(fd(f), buf, n);
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

long long write(Fd f, const void* buf, std::size_t n)
{
    for (;;) {
        const ssize_t r = ::write(fd(f), buf, n);
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

// File systems that cannot sync say EINVAL.
int syncToDisk(Fd f)
{
    return ::fdatasync(fd(f)) != 0 && errno != EINVAL && errno != EROFS ? errno : 0;
}

int close(Fd f) { return ::close(fd(f)); }

std::FILE* openStream(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

int removeFile(const std::string& path) { return ::unlink(path.c_str()); }
int replace(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()); }
int hardLink(const std::string& from, const std::string& to) { return ::link(from.c_str(), to.c_str()); }

int renameNoReplace(const std::string& from, const std::string& to)
{
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
}

namespace {

// Whether the folder open as `fd` ignores letter case: by its file system, by the case-folding
// flag some file systems set per folder, or else by asking for an entry of its under the other
// case of its letters.
bool ignoresCase(int fd, const std::string& folder, std::uint64_t device)
{
    struct statfs sf {};
    if (::fstatfs(fd, &sf) == 0) {
        switch (static_cast<std::uint32_t>(sf.f_type)) {
        case 0x4d44u:     // FAT
        case 0x2011BAB0u: // exFAT
        case 0xFF534D42u: // CIFS
        case 0xFE534D42u: // SMB2
        case 0x517Bu:     // SMB
        case 0x786F4256u: // VirtualBox shared folder
            return true;
        default: break;
        }
    }
#if defined(FS_IOC_GETFLAGS) && defined(FS_CASEFOLD_FL)
    long flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL))
        return true;
#endif
    // Else ask: the first entry with a letter, spelled with its letters' case swapped. A FUSE file
    // system may give the two spellings different inode numbers, so the answer is "the other
    // spelling is found, and it is no entry of its own".
    auto swapped = [](std::string name) {
        bool changed = false;
        for (char& c : name) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
                c = static_cast<char>(c ^ 0x20);
                changed = true;
            }
        }
        return changed ? name : std::string();
    };
    auto answers = [&](const fs::path& dir, const std::string& name) {
        const std::string other = swapped(name);
        struct stat a {}, b {};
        if (other.empty() || ::lstat((dir / name).c_str(), &a) != 0 || ::lstat((dir / other).c_str(), &b) != 0)
            return std::optional<bool>(other.empty() ? std::nullopt : std::optional<bool>(false));
        if (a.st_dev == b.st_dev && a.st_ino == b.st_ino)
            return std::optional<bool>(true);
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().filename() == other)
                return std::optional<bool>(false);
        return std::optional<bool>(true);
    };
    std::error_code ec;
    int looked = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end && looked < 8; it.increment(ec), ++looked)
        if (const auto a = answers(folder, it->path().filename().string()))
            return *a;
    // An empty folder: its own name in its parent, when both lie on one file system.
    const fs::path self = fs::absolute(folder, ec).lexically_normal();
    struct stat parent {};
    if (!ec && self.has_parent_path() && self != self.root_path() &&
        ::stat(self.parent_path().c_str(), &parent) == 0 && static_cast<std::uint64_t>(parent.st_dev) == device)
        if (const auto a = answers(self.parent_path(), self.filename().string()))
            return *a;
    return false;
}

} // namespace

std::optional<FolderStatus> folderStatus(const std::string& folder)
{
    const int f = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (f < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<FolderStatus> info;
    if (::fstat(f, &st) == 0) {
        info = FolderStatus{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), false};
        info->ignoresCase = ignoresCase(f, folder, info->device);
    }
    ::close(f);
    return info;
}

Fd openFolder(const std::string& folder)
{
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool lockFolder(Fd folder, Fd& lock)
{
    int r;
    while ((r = ::flock(fd(folder), LOCK_EX)) != 0 && errno == EINTR) {
    }
    lock = folder;
    return r == 0;
}

void unlockFolder(Fd folder, Fd)
{
    ::close(fd(folder)); // releases the lock
}

int accessForWriting(const std::string& folder)
{
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS);
}

bool prepareStandardStreams()
{
    for (int f = 0; f <= 2; ++f) {
        if (::fcntl(f, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is this one.
        const int opened = ::open("/dev/null", f == 0 ? O_RDONLY : O_WRONLY);
        if (opened != f) {
            if (opened >= 0)
                ::close(opened);
            return false;
        }
    }
    return true;
}

bool stderrIsTerminal() { return ::isatty(2); }

int processId() { return static_cast<int>(::getpid()); }

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

bool expandsWildcards() { return false; }

namespace {
void (*gOnStop)(int) = nullptr;
extern "C" void onStopSignal(int sig)
{
    gOnStop(sig);
}
} // namespace

void catchStopSignals(void (*onStop)(int), void (*)())
{
    gOnStop = onStop;
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigset_t caught;
    sigemptyset(&caught);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal that whoever started the converter ignores (nohup, a background job) stays
        // ignored.
        struct sigaction was {};
        if (::sigaction(sig, nullptr, &was) == 0 && was.sa_handler == SIG_IGN)
            continue;
        ::sigaction(sig, &sa, nullptr);
        sigaddset(&caught, sig);
    }
    // Caught even when the starting process blocked them: one already pending arrives now.
    ::pthread_sigmask(SIG_UNBLOCK, &caught, nullptr);
}

const char* signalName(int sig)
{
    return sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "SIGHUP";
}

void ignoreWriteSignals()
{
    // A reader that goes away makes writes fail (EPIPE), seen and answered, instead of a kill in
    // the middle of a batch.
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write fails with EFBIG ("Disque plein") instead of a kill.
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace rawdat::platform

#endif
