#include "ulit_dat/fsio.h"

#include "ulit_dat/errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#if defined(__linux__)
#include <linux/fs.h>
#endif

namespace fs = std::filesystem;

namespace rawdat::fsio {

namespace {

thread_local int tFailAt = 0;
thread_local int tOpsCounted = 0;

// Counts one file operation; true when fault injection makes this one fail.
bool injectedFault()
{
    ++tOpsCounted;
    if (tFailAt > 0 && tOpsCounted == tFailAt) {
        errno = ENOSPC;
        return true;
    }
    return false;
}

// The text of errno `e` for an operation on `path`. A name longer than the system allows is a bad
// file name; a whole path beyond PATH_MAX is too long.
const char* textForErrno(int e, const std::string& path)
{
    switch (e) {
    case ENOENT: return iotext::kNotFound;
    case ENOTDIR: return iotext::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case EBUSY: return iotext::kAccessDenied;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG: return iotext::kDiskFull;
    case ENAMETOOLONG: return path.size() >= PATH_MAX ? iotext::kPathTooLong : iotext::kBadFileName;
    case ELOOP: return iotext::kSymlinkLoop;
    case EINVAL: return iotext::kBadFileName;
    case EMFILE:
    case ENFILE: return iotext::kTooManyOpen;
    default: return iotext::kIoError;
    }
}

[[noreturn]] void fail(int e, const std::string& path) { throw InOutError(textForErrno(e, path), path); }

// What a path that exists but is not a regular file is, for the messages.
const char* nonRegularKind(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f)
            std::fclose(f);
    }
};

// ---- the temporaries of this process ----

std::mutex gTempMutex;
std::set<std::string>& temporaries()
{
    static std::set<std::string> names;
    return names;
}
std::atomic<bool> gCommitsStopped{false}; // set from a signal handler
static_assert(std::atomic<bool>::is_always_lock_free);

void registerTemporary(const std::string& p)
{
    std::lock_guard lock(gTempMutex);
    temporaries().insert(p);
}

void forgetTemporary(const std::string& p)
{
    std::lock_guard lock(gTempMutex);
    temporaries().erase(p);
}

void removeTemporary(const std::string& p)
{
    if (p.empty())
        return;
    ::unlink(p.c_str());
    forgetTemporary(p);
}

// Six characters that make a temporary's name unique.
std::string randomPart()
{
    thread_local std::mt19937_64 engine([] {
        std::random_device rd;
        const auto t =
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::seed_seq seq{rd(),
                          rd(),
                          static_cast<unsigned>(::getpid()),
                          static_cast<unsigned>(t),
                          static_cast<unsigned>(t >> 32),
                          static_cast<unsigned>(std::hash<std::thread::id>()(std::this_thread::get_id()))};
        return std::mt19937_64(seq);
    }());
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string s(6, ' ');
    for (char& c : s)
        c = kChars[engine() % (sizeof kChars - 1)];
    return s;
}

// A fresh name ".NAME.rawdat-XXXXXX.tmp" in the folder of `target`, recognisably ours. NAME is
// cut when the whole would pass the longest name file systems allow (255): a target of the
// longest name must still be writable.
std::string temporaryName(const std::string& target)
{
    const fs::path t(target);
    const fs::path folder = t.has_parent_path() ? t.parent_path() : fs::path(".");
    constexpr std::size_t kNameMax = 255;
    const std::string suffix = ".rawdat-" + randomPart() + ".tmp";
    std::string name = "." + t.filename().string();
    if (name.size() + suffix.size() > kNameMax)
        name.resize(std::max(kNameMax - suffix.size(), std::size_t{2}));
    return (folder / (name + suffix)).string();
}

// What a replaced file passes on to the file that replaces it.
struct Previous {
    int mode = -1; // permission bits; -1: there is no such file
    uid_t owner = 0;
    gid_t group = 0;
};

// A fresh temporary beside `target`, created exclusively (another name is tried when one exists:
// a temporary left by a killed run, or another converter's), registered, with the permission
// bits, owner and group of `previous` (the default ones when there is none; the owner only as
// far as the process may give it); its descriptor, open for writing.
int createTemporary(const std::string& target, const Previous& previous, std::string& temp)
{
    if (injectedFault())
        fail(errno, target);
    for (int attempt = 0;; ++attempt) {
        temp = temporaryName(target);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int e = errno;
            if (e == EEXIST && attempt < 100)
                continue;
            temp.clear();
            // A name too long for the system shows in the temporary name first: report the target.
            fail(e, target);
        }
        registerTemporary(temp);
        if (previous.mode >= 0) {
            // A file replaced by root keeps its owner; chown before chmod, which it may clear.
            if (previous.owner != ::geteuid() || previous.group != ::getegid())
                (void)::fchown(fd, previous.owner, previous.group);
            (void)::fchmod(fd, static_cast<mode_t>(previous.mode));
        }
        return fd;
    }
}

// Flushes a written file to the disk, so that after a power loss the name it is renamed to holds
// its old bytes or its new ones, never an empty or partial file. (File systems that cannot sync
// say EINVAL.) 0, or the error.
int syncToDisk(int fd)
{
    return ::fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS ? errno : 0;
}

// Writes `bytes` to the open temporary, on the disk, and closes it; on failure removes it and
// raises the error naming `target`.
void fillTemporary(int fd, std::string& temp, std::string_view bytes, const std::string& target)
{
    auto discard = [&](int e) {
        ::close(fd);
        removeTemporary(temp);
        temp.clear();
        fail(e, target);
    };
    if (!bytes.empty()) {
        if (injectedFault())
            discard(errno);
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                discard(n < 0 ? errno : EIO);
            done += static_cast<std::size_t>(n);
        }
        if (injectedFault()) // where a buffered write would have been flushed
            discard(errno);
        if (const int e = syncToDisk(fd))
            discard(e);
    } else if (injectedFault()) {
        discard(errno);
    }
    const bool closeFault = injectedFault();
    if (::close(fd) != 0 || closeFault) {
        const int e = closeFault ? ENOSPC : (errno ? errno : EIO);
        removeTemporary(temp);
        temp.clear();
        fail(e, target);
    }
}

// The previous target kept aside under a temporary name until its group has committed: a hard
// link, or a copy where the file system has none.
std::string keepAside(const std::string& target)
{
    if (injectedFault())
        fail(errno, target);
    std::string backup;
    int e = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        backup = temporaryName(target);
        if (::link(target.c_str(), backup.c_str()) == 0) {
            registerTemporary(backup);
            return backup;
        }
        e = errno;
        if (e != EEXIST)
            break;
    }
    if (e == ENOENT)
        return {}; // gone meanwhile: nothing to restore but its absence
    // No hard links here: a copy with the same permission bits.
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0)
        fail(errno, target);
    const Bytes bytes = readFile(target, SizeLimit{static_cast<std::uint64_t>(st.st_size), "previous"});
    const int fd = createTemporary(target, Previous{static_cast<int>(st.st_mode & 07777), st.st_uid, st.st_gid},
                                   backup);
    fillTemporary(fd, backup, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                  target);
    return backup;
}

} // namespace

// ---- inputs ----

namespace {

// Opens `path` for reading when it is a regular file: stat first (a FIFO is never opened), then
// open without blocking and check again what was opened. -1 with errno when it cannot be opened.
int openRegular(const std::string& path, std::uint64_t& size, std::optional<FileId>* id = nullptr)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode))
        throw Refusal(path, "not a regular file");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Refusal(path, "not a regular file");
    }
    size = static_cast<std::uint64_t>(st.st_size);
    if (id)
        *id = FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return fd;
}

// Reads up to `max` bytes from `fd` (closed afterwards).
Bytes readUpTo(int fd, std::uint64_t max, std::uint64_t sizeHint, const std::string& path)
{
    Bytes out;
    out.reserve(static_cast<std::size_t>(std::min(sizeHint, max)));
    std::uint8_t buf[65536];
    while (out.size() < max) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, max - out.size()));
        const ssize_t n = ::read(fd, buf, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int e = errno;
            ::close(fd);
            fail(e, path);
        }
        if (n == 0)
            break;
        out.insert(out.end(), buf, buf + n);
        if (out.size() == sizeHint && sizeHint < max)
            break; // the whole file, as its size said: no read more to find its end
    }
    ::close(fd);
    return out;
}

std::string tooBig(std::uint64_t size, SizeLimit limit)
{
    return "is " + std::to_string(size) + " bytes; a " + limit.kind + " file is at most " +
           std::to_string(limit.bytes) + " bytes";
}

} // namespace

namespace {
thread_local const Preloaded* tPreloaded = nullptr;
}

Preloaded::Preloaded(std::string path, Bytes bytes) : path_(std::move(path)), bytes_(std::move(bytes)), outer_(tPreloaded)
{
    tPreloaded = this;
}

Preloaded::~Preloaded()
{
    tPreloaded = outer_;
}

std::optional<Bytes> tryReadFile(const std::string& path, SizeLimit limit)
{
    if (tPreloaded && tPreloaded->path_ == path) {
        if (tPreloaded->bytes_.size() > limit.bytes)
            throw Refusal(path, tooBig(tPreloaded->bytes_.size(), limit));
        return tPreloaded->bytes_;
    }
    std::uint64_t size = 0;
    const int fd = openRegular(path, size);
    if (fd < 0)
        return std::nullopt;
    if (size > limit.bytes) {
        ::close(fd);
        throw Refusal(path, tooBig(size, limit));
    }
    Bytes b = readUpTo(fd, limit.bytes + 1, size, path);
    if (b.size() > limit.bytes)
        throw Refusal(path, tooBig(b.size(), limit));
    return b;
}

Bytes readFile(const std::string& path, SizeLimit limit)
{
    errno = 0;
    auto bytes = tryReadFile(path, limit);
    if (!bytes)
        fail(errno ? errno : ENOENT, path);
    return std::move(*bytes);
}

std::optional<Bytes> tryReadHead(const std::string& path, std::size_t n, std::optional<FileId>* id,
                                 std::uint64_t* fileSize, std::size_t wholeUpTo)
{
    std::uint64_t size = 0;
    const int fd = openRegular(path, size, id);
    if (fd < 0)
        return std::nullopt;
    if (fileSize)
        *fileSize = size;
    const std::uint64_t max = size <= wholeUpTo ? std::max<std::uint64_t>(size, n) : n;
    return readUpTo(fd, max, std::min(size, max), path);
}

// ---- outputs ----

namespace {

// What an existing target passes on (mode -1 when there is none); refuses a target that is not
// a regular file or is marked read-only.
Previous checkedPrevious(const std::string& target, bool replacing = true)
{
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0)
        return {};
    if (!S_ISREG(st.st_mode))
        throw Refusal(target, std::string("exists as ") + nonRegularKind(st.st_mode) +
                                  ", not a regular file; left as it is");
    if (!replacing)
        return {}; // never replaced: its commit decides
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        fail(EACCES, target);
    return {static_cast<int>(st.st_mode & 07777), st.st_uid, st.st_gid};
}

} // namespace

bool checkReplaceable(const std::string& target)
{
    return checkedPrevious(target).mode >= 0;
}

std::optional<FileId> fileId(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (fs::absolute(a, ec).lexically_normal() == fs::absolute(b, ec).lexically_normal())
        return true;
    const auto ia = fileId(a);
    return ia && ia == fileId(b);
}

namespace {

// Whether the folder open as `fd` ignores letter case: by its file system, by the case-folding
// flag some file systems set per folder, or else by asking for an entry of its under the other
// case of its letters.
bool ignoresCase(int fd, const std::string& folder, const FileId& id)
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
        ::stat(self.parent_path().c_str(), &parent) == 0 && static_cast<std::uint64_t>(parent.st_dev) == id.device)
        if (const auto a = answers(self.parent_path(), self.filename().string()))
            return *a;
    return false;
}

} // namespace

std::optional<FolderInfo> folderInfo(const std::string& folder)
{
    const std::string f = folder.empty() ? std::string(".") : folder;
    const int fd = ::open(f.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<FolderInfo> info;
    if (::fstat(fd, &st) == 0) {
        info = FolderInfo{{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)}, false};
        info->ignoresCase = ignoresCase(fd, f, info->id);
    }
    ::close(fd);
    return info;
}

std::optional<std::string> nonRegularKindOf(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return std::nullopt;
    return std::string(nonRegularKind(st.st_mode));
}

bool canWriteIn(const std::string& folder)
{
    if (::faccessat(AT_FDCWD, folder.empty() ? "." : folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0)
        return true;
    // A folder that is missing or cannot be looked up: the write says why.
    return errno != EACCES && errno != EPERM && errno != EROFS;
}

const char* whyNotReadable(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return textForErrno(errno, path);
    return iotext::kAccessDenied;
}

const char* errorText(int e)
{
    return textForErrno(e, {});
}

bool openStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is this one.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd) {
            if (opened >= 0)
                ::close(opened);
            return false;
        }
    }
    return true;
}

// Checks `target` and creates its temporary: a replaced file's permission bits go to the
// temporary.
OutputGroup::Member& OutputGroup::prepare(const std::string& target)
{
    // A file is never replaced without replacing: the commit finds what exists.
    const Previous previous = noClobber_ && !dryRun_ ? Previous{} : checkedPrevious(target, !noClobber_);
    Member m;
    m.target = target;
    if (!dryRun_)
        m.fd = createTemporary(target, previous, m.temp);
    members_.push_back(std::move(m));
    return members_.back();
}

void OutputGroup::add(const std::string& target, std::string_view bytes)
{
    Member& m = prepare(target);
    if (dryRun_) {
        // What the commit would find: the dry run predicts the real run.
        if (noClobber_) {
            const auto old = tryReadFile(target);
            m.exists = old.has_value() || fileId(target).has_value();
            m.same = old && old->size() == bytes.size() && std::memcmp(old->data(), bytes.data(), bytes.size()) == 0;
        }
        return;
    }
    try {
        fillTemporary(std::exchange(m.fd, -1), m.temp, bytes, target);
    } catch (...) {
        members_.pop_back();
        throw;
    }
}

const std::string& OutputGroup::addEmpty(const std::string& target)
{
    add(target, std::string_view());
    return members_.back().temp;
}

OutputGroup::~OutputGroup()
{
    for (Member& m : members_) {
        if (!m.replaced)
            removeTemporary(m.temp);
        removeTemporary(m.backup);
    }
}

// Gives the first `count` members' targets back what they were.
void OutputGroup::rollBack(std::size_t count)
{
    for (std::size_t i = count; i-- > 0;) {
        Member& m = members_[i];
        if (!m.replaced)
            continue;
        if (!m.backup.empty()) {
            // Should even this fail, the old bytes stay under the backup's name rather than go.
            ::rename(m.backup.c_str(), m.target.c_str());
            forgetTemporary(m.backup);
            m.backup.clear();
        } else {
            ::unlink(m.target.c_str());
        }
        m.replaced = false;
        m.temp.clear(); // renamed into place, then undone: nothing left under that name
    }
}

namespace {

// Exclusive locks on the folders of a group's targets, held while it commits: another
// process's group (a second converter on the same folder) waits, so groups never interleave.
// Each folder is locked once, in one order; a folder that cannot be opened or locked (a file
// system without locks) is committed without its lock.
class FolderLocks {
public:
    explicit FolderLocks(const std::vector<std::string>& targets)
    {
        std::set<std::string> folders;
        for (const std::string& t : targets) {
            const fs::path p(t);
            folders.insert(p.has_parent_path() ? p.parent_path().string() : std::string("."));
        }
        std::set<FileId> locked;
        for (const std::string& folder : folders) {
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0)
                continue;
            struct stat st {};
            // Two spellings of one folder: a second lock of it would wait for the first forever.
            if (::fstat(fd, &st) != 0 ||
                !locked.insert(FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)})
                     .second) {
                ::close(fd);
                continue;
            }
            int r;
            while ((r = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
            }
            if (r != 0) {
                ::close(fd);
                continue;
            }
            fds_.push_back(fd);
        }
    }
    ~FolderLocks()
    {
        for (int fd : fds_)
            ::close(fd); // releases the lock
    }
    FolderLocks(const FolderLocks&) = delete;
    FolderLocks& operator=(const FolderLocks&) = delete;

private:
    std::vector<int> fds_;
};

// Puts `temp` in place as `target` only if no file has that name, atomically: false when one
// has. Where the file system cannot rename without replacing, a hard link does the same; where it
// has no hard links either, the check and the rename are only as safe as the folder lock.
bool placeNew(const std::string& temp, const std::string& target)
{
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        fail(errno, target);
    if (::link(temp.c_str(), target.c_str()) == 0) {
        ::unlink(temp.c_str());
        return true;
    }
    if (errno == EEXIST)
        return false;
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        fail(errno, target);
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0)
        return false;
    if (::rename(temp.c_str(), target.c_str()) != 0)
        fail(errno, target);
    return true;
}

// Whether two files hold the same bytes (false when either cannot be read).
bool sameBytes(const std::string& a, const std::string& b)
{
    try {
        const auto x = tryReadFile(a);
        const auto y = x ? tryReadFile(b) : std::nullopt;
        return x && y && *x == *y;
    } catch (const RawdatError&) {
        return false;
    }
}

} // namespace

void OutputGroup::commit()
{
    if (done_)
        return;
    if (gCommitsStopped)
        throw Interrupted();
    done_ = true;
    if (dryRun_) {
        for (std::size_t i = 0; i < members_.size(); ++i)
            if (members_[i].exists && (i + 1 == members_.size() || !members_[i].same))
                throw TargetExists(members_[i].target);
        return;
    }
    std::vector<std::string> targets;
    targets.reserve(members_.size());
    for (const Member& m : members_)
        targets.push_back(m.target);
    const FolderLocks locks(targets);
    if (gCommitsStopped) // stopped while waiting for another process's group
        throw Interrupted();
    for (std::size_t i = 0; i < members_.size(); ++i) {
        Member& m = members_[i];
        const bool last = i + 1 == members_.size();
        try {
            if (noClobber_) {
                if (injectedFault())
                    fail(errno, m.target);
                if (!placeNew(m.temp, m.target)) {
                    // Put there by an earlier run of the same conversion, killed before it ended.
                    if (!last && sameBytes(m.temp, m.target)) {
                        removeTemporary(m.temp);
                        m.temp.clear();
                        continue;
                    }
                    throw TargetExists(m.target);
                }
            } else {
                // Every target but the last may have to be restored when a later rename fails.
                struct stat st {};
                if (!last && ::lstat(m.target.c_str(), &st) == 0)
                    m.backup = keepAside(m.target);
                if (injectedFault())
                    fail(errno, m.target);
                if (::rename(m.temp.c_str(), m.target.c_str()) != 0)
                    fail(errno ? errno : EIO, m.target);
            }
        } catch (...) {
            rollBack(i);
            throw; // the destructor removes the temporaries and the backups
        }
        m.replaced = true;
        forgetTemporary(m.temp);
    }
}

void writeFileAtomic(const std::string& path, std::string_view bytes)
{
    OutputGroup g;
    g.add(path, bytes);
    g.commit();
}

void PendingFile::commit()
{
    const int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    const int e = fd < 0 ? errno : syncToDisk(fd);
    if (fd >= 0)
        ::close(fd);
    if (e)
        fail(e, target_);
    group_.commit();
}

void PendingFile::rethrowNamingTarget(const InOutError& e) const
{
    if (e.file() != temp_)
        throw;
    throw InOutError(e.text(), target_, e.offset());
}

void stopCommits()
{
    gCommitsStopped = true;
}

bool commitsStopped()
{
    return gCommitsStopped;
}

void resumeCommits()
{
    gCommitsStopped = false;
}

void removeTemporaries()
{
    std::lock_guard lock(gTempMutex);
    for (const std::string& p : temporaries())
        ::unlink(p.c_str());
    temporaries().clear();
}

void writeInPlace(const std::string& path, std::size_t offset, const Bytes& bytes)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        fail(EACCES, path);
    if (injectedFault())
        fail(errno, path);
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f)
        fail(errno, path);
    std::unique_ptr<std::FILE, FileCloser> guard(f);
    if (injectedFault() || std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        fail(errno ? errno : EIO, path);
    if (injectedFault() || std::fflush(f) != 0)
        fail(errno ? errno : EIO, path);
    const bool closeFault = injectedFault();
    if (std::fclose(guard.release()) != 0 || closeFault)
        fail(closeFault ? ENOSPC : (errno ? errno : EIO), path);
}

namespace {
// Whether `path` is a regular file that std::fopen opens with `mode`.
bool opensWith(const std::string& path, const char* mode, bool writable)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (writable && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return false; // marked read-only
    std::FILE* f = std::fopen(path.c_str(), mode);
    if (!f)
        return false;
    std::fclose(f);
    return true;
}
} // namespace

bool opensForWriting(const std::string& path)
{
    return opensWith(path, "r+b", true);
}

bool opensForReading(const std::string& path)
{
    return opensWith(path, "rb", false);
}

std::string findFileIgnoringCase(const std::string& folder, const std::string& name)
{
    const fs::path dir = folder.empty() ? fs::path(".") : fs::path(folder);
    const fs::path exact = dir / name;
    std::error_code ec;
    if (fs::exists(exact, ec))
        return exact.string();
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : char(c); });
        return s;
    };
    const std::string want = lower(name);
    std::string best;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string n = it->path().filename().string();
        if (lower(n) == want && (best.empty() || n < best))
            best = n;
    }
    return best.empty() ? exact.string() : (dir / best).string();
}

namespace testing {
void failOperation(int k)
{
    tFailAt = k;
    tOpsCounted = 0;
}
int operationsCounted() { return tOpsCounted; }
} // namespace testing

} // namespace rawdat::fsio
