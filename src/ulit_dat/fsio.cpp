#include "ulit_dat/fsio.h"

#include "ulit_dat/errors.h"
#include "ulit_dat/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

namespace fs = std::filesystem;
namespace pf = rawdat::platform;
using pf::Fd;
using Kind = pf::Status::Kind;

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
    case ENAMETOOLONG: return path.size() >= pf::kPathMax ? iotext::kPathTooLong : iotext::kBadFileName;
    case ELOOP: return iotext::kSymlinkLoop;
    case EINVAL: return iotext::kBadFileName;
    case EMFILE:
    case ENFILE: return iotext::kTooManyOpen;
    case pf::kSharingViolation: return iotext::kSharingViolation;
    default: return iotext::kIoError;
    }
}

[[noreturn]] void fail(int e, const std::string& path) { throw InOutError(textForErrno(e, path), path); }

// What a path that exists but is not a regular file is, for the messages.
const char* nonRegularKind(Kind kind)
{
    switch (kind) {
    case Kind::Folder: return "a folder";
    case Kind::Link: return "a symbolic link";
    case Kind::Fifo: return "a FIFO";
    case Kind::Socket: return "a socket";
    case Kind::Device: return "a device";
    default: return "not a regular file";
    }
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
    pf::removeFile(p);
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
                          static_cast<unsigned>(pf::processId()),
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
    // Lexical only: a path's bytes go through the narrow conversion and back unchanged.
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
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
};

// A fresh temporary beside `target`, created exclusively (another name is tried when one exists:
// a temporary left by a killed run, or another converter's), registered, with the permission
// bits, owner and group of `previous` (the default ones when there is none; the owner only as
// far as the process may give it); its descriptor, open for writing.
Fd createTemporary(const std::string& target, const Previous& previous, std::string& temp)
{
    if (injectedFault())
        fail(errno, target);
    for (int attempt = 0;; ++attempt) {
        temp = temporaryName(target);
        const Fd fd = pf::createExclusive(temp);
        if (fd == pf::kNoFd) {
            const int e = errno;
            if (e == EEXIST && attempt < 100)
                continue;
            temp.clear();
            // A name too long for the system shows in the temporary name first: report the target.
            fail(e, target);
        }
        registerTemporary(temp);
        if (previous.mode >= 0) {
            pf::Status s;
            s.mode = previous.mode;
            s.owner = previous.owner;
            s.group = previous.group;
            pf::passOn(fd, s);
        }
        return fd;
    }
}

// Flushes a written file to the disk, so that after a power loss the name it is renamed to holds
// its old bytes or its new ones, never an empty or partial file. 0, or the error.
int syncToDisk(Fd fd)
{
    return pf::syncToDisk(fd);
}

// Writes `bytes` to the open temporary, on the disk, and closes it; on failure removes it and
// raises the error naming `target`.
void fillTemporary(Fd fd, std::string& temp, std::string_view bytes, const std::string& target)
{
    auto discard = [&](int e) {
        pf::close(fd);
        removeTemporary(temp);
        temp.clear();
        fail(e, target);
    };
    if (!bytes.empty()) {
        if (injectedFault())
            discard(errno);
        for (std::size_t done = 0; done < bytes.size();) {
            const long long n = pf::write(fd, bytes.data() + done, bytes.size() - done);
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
    if (pf::close(fd) != 0 || closeFault) {
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
        if (pf::hardLink(target, backup) == 0) {
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
    const auto st = pf::status(target);
    if (!st)
        fail(errno, target);
    const Bytes bytes = readFile(target, SizeLimit{st->size, "previous"});
    const Fd fd = createTemporary(target, Previous{st->mode, st->owner, st->group}, backup);
    fillTemporary(fd, backup, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                  target);
    return backup;
}

} // namespace

// ---- inputs ----

namespace {

// Opens `path` for reading when it is a regular file: stat first (a FIFO is never opened), then
// open without blocking and check again what was opened. -1 with errno when it cannot be opened.
Fd openRegular(const std::string& path, std::uint64_t& size, std::optional<FileId>* id = nullptr)
{
    auto st = pf::status(path);
    if (!st)
        return pf::kNoFd;
    if (st->kind != Kind::Regular)
        throw Refusal(path, "not a regular file");
    const Fd fd = pf::openForReading(path);
    if (fd == pf::kNoFd)
        return pf::kNoFd;
    if (!(st = pf::status(fd)) || st->kind != Kind::Regular) {
        pf::close(fd);
        throw Refusal(path, "not a regular file");
    }
    size = st->size;
    if (id)
        *id = FileId{st->device, st->inode};
    return fd;
}

// Reads up to `max` bytes from `fd` (closed afterwards).
Bytes readUpTo(Fd fd, std::uint64_t max, std::uint64_t sizeHint, const std::string& path)
{
    Bytes out;
    out.reserve(static_cast<std::size_t>(std::min(sizeHint, max)));
    std::uint8_t buf[65536];
    while (out.size() < max) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, max - out.size()));
        const long long n = pf::read(fd, buf, want);
        if (n < 0) {
            const int e = errno;
            pf::close(fd);
            fail(e, path);
        }
        if (n == 0)
            break;
        out.insert(out.end(), buf, buf + n);
        if (out.size() == sizeHint && sizeHint < max)
            break; // the whole file, as its size said: no read more to find its end
    }
    pf::close(fd);
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
    const Fd fd = openRegular(path, size);
    if (fd == pf::kNoFd)
        return std::nullopt;
    if (size > limit.bytes) {
        pf::close(fd);
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
    const Fd fd = openRegular(path, size, id);
    if (fd == pf::kNoFd)
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
    const auto st = pf::status(target, false);
    if (!st)
        return {};
    if (st->kind != Kind::Regular)
        throw Refusal(target, std::string("exists as ") + nonRegularKind(st->kind) +
                                  ", not a regular file; left as it is");
    if (!replacing)
        return {}; // never replaced: its commit decides
    if ((st->mode & 0222) == 0)
        fail(EACCES, target);
    return {st->mode, st->owner, st->group};
}

} // namespace

bool checkReplaceable(const std::string& target)
{
    return checkedPrevious(target).mode >= 0;
}

std::optional<FileId> fileId(const std::string& path)
{
    const auto st = pf::status(path);
    if (!st)
        return std::nullopt;
    return FileId{st->device, st->inode};
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (fs::absolute(pf::fsPath(a), ec).lexically_normal() == fs::absolute(pf::fsPath(b), ec).lexically_normal())
        return true;
    const auto ia = fileId(a);
    return ia && ia == fileId(b);
}

std::optional<FolderInfo> folderInfo(const std::string& folder)
{
    const auto st = pf::folderStatus(folder.empty() ? std::string(".") : folder);
    if (!st)
        return std::nullopt;
    return FolderInfo{{st->device, st->inode}, st->ignoresCase};
}

std::optional<std::string> nonRegularKindOf(const std::string& path)
{
    const auto st = pf::status(path, false);
    if (!st || st->kind == Kind::Regular)
        return std::nullopt;
    return std::string(nonRegularKind(st->kind));
}

bool canWriteIn(const std::string& folder)
{
    if (pf::accessForWriting(folder.empty() ? std::string(".") : folder) == 0)
        return true;
    // A folder that is missing or cannot be looked up: the write says why.
    return errno != EACCES && errno != EPERM && errno != EROFS;
}

const char* whyNotReadable(const std::string& path)
{
    if (!pf::status(path))
        return textForErrno(errno, path);
    return iotext::kAccessDenied;
}

const char* errorText(int e)
{
    return textForErrno(e, {});
}

bool openStandardStreams()
{
    return pf::prepareStandardStreams();
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
            pf::replace(m.backup, m.target);
            forgetTemporary(m.backup);
            m.backup.clear();
        } else {
            pf::removeFile(m.target);
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
            const Fd fd = pf::openFolder(folder);
            if (fd == pf::kNoFd)
                continue;
            const auto st = pf::status(fd);
            // Two spellings of one folder: a second lock of it would wait for the first forever.
            if (!st || !locked.insert(FileId{st->device, st->inode}).second) {
                pf::close(fd);
                continue;
            }
            Fd lock = pf::kNoFd;
            if (!pf::lockFolder(fd, lock)) {
                pf::close(fd);
                continue;
            }
            fds_.emplace_back(fd, lock);
        }
    }
    ~FolderLocks()
    {
        for (const auto& [fd, lock] : fds_)
            pf::unlockFolder(fd, lock);
    }
    FolderLocks(const FolderLocks&) = delete;
    FolderLocks& operator=(const FolderLocks&) = delete;

private:
    std::vector<std::pair<Fd, Fd>> fds_;
};

// Puts `temp` in place as `target` only if no file has that name, atomically: false when one
// has. Where the file system cannot rename without replacing, a hard link does the same; where it
// has no hard links either, the check and the rename are only as safe as the folder lock.
bool placeNew(const std::string& temp, const std::string& target)
{
    if (pf::renameNoReplace(temp, target) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        fail(errno, target);
    if (pf::hardLink(temp, target) == 0) {
        pf::removeFile(temp);
        return true;
    }
    if (errno == EEXIST)
        return false;
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        fail(errno, target);
    if (pf::status(target, false))
        return false;
    if (pf::replace(temp, target) != 0)
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
                if (!last && pf::status(m.target, false))
                    m.backup = keepAside(m.target);
                if (injectedFault())
                    fail(errno, m.target);
                if (pf::replace(m.temp, m.target) != 0)
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
    const Fd fd = pf::openForReading(temp_);
    const int e = fd == pf::kNoFd ? errno : syncToDisk(fd);
    if (fd != pf::kNoFd)
        pf::close(fd);
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
        pf::removeFile(p);
    temporaries().clear();
}

void writeInPlace(const std::string& path, std::size_t offset, const Bytes& bytes)
{
    const auto st = pf::status(path);
    if (st && st->kind == Kind::Regular && (st->mode & 0222) == 0)
        fail(EACCES, path);
    if (injectedFault())
        fail(errno, path);
    std::FILE* f = pf::openStream(path, "r+b");
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
    const auto st = pf::status(path);
    if (!st || st->kind != Kind::Regular)
        return false;
    if (writable && (st->mode & 0222) == 0)
        return false; // marked read-only
    std::FILE* f = pf::openStream(path, mode);
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
    const fs::path dir = folder.empty() ? fs::path(".") : pf::fsPath(folder);
    const fs::path exact = dir / pf::fsPath(name);
    std::error_code ec;
    const bool exists = fs::exists(exact, ec);
    // Where letter case counts, a name that exists is spelled as the folder holds it; the folder
    // is listed only where case is ignored (or the name is not there), not once per file of a
    // batch in a folder of thousands.
    if (exists) {
        // Whether the folder ignores case, asked once for the folder of a batch.
        thread_local std::string lastFolder;
        thread_local bool lastIgnores = true;
        const std::string asked = folder.empty() ? std::string(".") : folder;
        if (asked != lastFolder) {
            const auto info = folderInfo(asked);
            lastIgnores = !info || info->ignoresCase;
            lastFolder = info ? asked : std::string();
        }
        if (!lastIgnores)
            return pf::utf8(exact);
    }
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : char(c); });
        return s;
    };
    const std::string want = lower(name);
    std::string best;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string n = pf::utf8(it->path().filename());
        if (exists && n == name)
            return pf::utf8(exact);
        if (lower(n) == want && (best.empty() || n < best))
            best = n;
    }
    // Found under the exact name in a folder that ignores case: the name as the folder spells it.
    return best.empty() ? pf::utf8(exact) : pf::utf8(dir / pf::fsPath(best));
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
