#include "ulit_dat/fsio.h"

#include "ulit_dat/errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

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

// A fresh temporary beside `target`, created exclusively (another name is tried when one exists:
// a temporary left by a killed run, or another converter's), registered, with the permission
// bits `mode` (or the default ones when negative), and opened for writing.
std::FILE* createTemporary(const std::string& target, int mode, std::string& temp)
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
        if (mode >= 0)
            (void)::fchmod(fd, static_cast<mode_t>(mode));
        std::FILE* f = ::fdopen(fd, "wb");
        if (!f) {
            const int e = errno;
            ::close(fd);
            removeTemporary(temp);
            temp.clear();
            fail(e, target);
        }
        return f;
    }
}

// Writes `bytes` to the open temporary and closes it; on failure removes it and raises the
// error naming `target`.
void fillTemporary(std::FILE* f, std::string& temp, std::string_view bytes, const std::string& target)
{
    auto discard = [&](int e) {
        std::fclose(f);
        removeTemporary(temp);
        temp.clear();
        fail(e, target);
    };
    if (!bytes.empty()) {
        if (injectedFault())
            discard(errno);
        errno = 0;
        if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
            discard(errno ? errno : EIO);
    }
    errno = 0;
    if (injectedFault() || std::fflush(f) != 0)
        discard(errno ? errno : EIO);
    const bool closeFault = injectedFault();
    errno = 0;
    if (std::fclose(f) != 0 || closeFault) {
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
    std::FILE* f = createTemporary(target, static_cast<int>(st.st_mode & 07777), backup);
    fillTemporary(f, backup, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
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

std::optional<Bytes> tryReadFile(const std::string& path, SizeLimit limit)
{
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
                                 std::uint64_t* fileSize)
{
    std::uint64_t size = 0;
    const int fd = openRegular(path, size, id);
    if (fd < 0)
        return std::nullopt;
    if (fileSize)
        *fileSize = size;
    return readUpTo(fd, n, n, path);
}

// ---- outputs ----

namespace {

// The permission bits of an existing target (-1 when there is none); refuses a target that is
// not a regular file or is marked read-only.
int checkedMode(const std::string& target)
{
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode))
        throw Refusal(target, std::string("exists as ") + nonRegularKind(st.st_mode) +
                                  ", not a regular file; left as it is");
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        fail(EACCES, target);
    return static_cast<int>(st.st_mode & 07777);
}

} // namespace

bool checkReplaceable(const std::string& target)
{
    return checkedMode(target) >= 0;
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
    const int mode = checkedMode(target);
    Member m;
    m.target = target;
    if (!dryRun_)
        m.file = createTemporary(target, mode, m.temp);
    members_.push_back(std::move(m));
    return members_.back();
}

void OutputGroup::add(const std::string& target, std::string_view bytes)
{
    Member& m = prepare(target);
    if (dryRun_)
        return;
    try {
        fillTemporary(std::exchange(m.file, nullptr), m.temp, bytes, target);
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

void OutputGroup::commit()
{
    if (done_)
        return;
    if (gCommitsStopped)
        throw Interrupted();
    done_ = true;
    if (dryRun_)
        return;
    for (std::size_t i = 0; i < members_.size(); ++i) {
        Member& m = members_[i];
        try {
            // Every target but the last may have to be restored when a later rename fails.
            struct stat st {};
            if (i + 1 < members_.size() && ::lstat(m.target.c_str(), &st) == 0)
                m.backup = keepAside(m.target);
            if (injectedFault())
                fail(errno, m.target);
            if (::rename(m.temp.c_str(), m.target.c_str()) != 0)
                fail(errno ? errno : EIO, m.target);
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
