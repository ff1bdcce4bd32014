// The one small file-system layer: whole-file reads of regular files of a bounded size, groups
// of outputs that replace their targets together, the test open of an existing file, and the
// case-insensitive look-up of a file in a folder. Errors carry the runtime's French texts and the
// file name.
//
// Writers build their file in memory and hand it to an OutputGroup: each output is written whole
// as a temporary in its target's folder, then commit() renames every temporary over its target.
// When a rename fails, the targets already replaced get their old bytes back. A failure at any
// point leaves every previous file byte for byte intact and no temporary behind.
#pragma once

#include "ulit_dat/binio.h"
#include "ulit_dat/errors.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rawdat::fsio {

// ---- inputs ----

// The largest file of a kind, checked before a file is read: "is N bytes; a KIND file is at most
// M bytes".
struct SizeLimit {
    std::uint64_t bytes;
    const char* kind;
};
inline constexpr SizeLimit kAnyInput{64u << 20, "rawdat input"};

// Reads the whole file opened for reading only. Only regular files are read: anything else that
// exists (a folder, a FIFO, a device, a socket) is refused with "not a regular file" without
// being waited on, and so is a file beyond `limit`. nullopt when the file cannot be opened
// (missing, no access); an error after the open raises InOutError.
std::optional<Bytes> tryReadFile(const std::string& path, SizeLimit limit = kAnyInput);
// As tryReadFile, but an open failure raises InOutError with the runtime's text.
Bytes readFile(const std::string& path, SizeLimit limit = kAnyInput);
struct FileId;
// The first `n` bytes of a regular file (fewer when it is shorter), under the same rules; `id`
// and `size`, when given, receive the identity and the size of the file read.
// The whole file when it is at most `wholeUpTo` bytes.
std::optional<Bytes> tryReadHead(const std::string& path, std::size_t n, std::optional<FileId>* id = nullptr,
                                 std::uint64_t* size = nullptr, std::size_t wholeUpTo = 0);

// A file read already, which the reads of its path on this thread take instead of reading it
// again while this object lives: the batch plan reads each small input once, for itself and for
// its conversion.
class Preloaded {
public:
    Preloaded(std::string path, Bytes bytes);
    ~Preloaded();
    Preloaded(const Preloaded&) = delete;
    Preloaded& operator=(const Preloaded&) = delete;

private:
    friend std::optional<Bytes> tryReadFile(const std::string&, SizeLimit);
    std::string path_;
    Bytes bytes_;
    const Preloaded* outer_;
};

// ---- outputs ----

// Outputs replaced together. add() refuses at once a target that is not a regular file (a
// folder, a symbolic link, a device) or is marked read-only, and writes the bytes whole to a
// fresh temporary ".NAME.rawdat-XXXXXX.tmp" beside the target, flushed to the disk. commit()
// renames them over their targets in the order added, holding a lock on each target's folder so
// that the groups of two processes never interleave; a replaced file keeps its permission bits
// (and, when the process may, its owner and group). Destroyed without a commit, the group
// removes its temporaries and no target has changed. A caller adds last the output whose
// presence means "converted", so that a killed run never leaves it without the others.
class OutputGroup {
public:
    // DryRun: add() checks each target as it would and writes nothing; commit() puts nothing in
    // place. The converter's dry run goes through every step of a conversion this way.
    enum class Mode { Write, DryRun };
    // NoClobber: commit() never replaces a file. Each target is placed atomically only if no file
    // has that name, however late the file appeared; a target that exists with exactly the bytes
    // of its temporary is left as it is (a run killed after placing some outputs of a group is
    // completed by the next), except the last member, which must be placed by this group. Any
    // other existing target undoes the group and raises TargetExists.
    enum class Placement { Replace, NoClobber };
    explicit OutputGroup(Mode mode = Mode::Write, Placement placement = Placement::Replace)
        : dryRun_(mode == Mode::DryRun), noClobber_(placement == Placement::NoClobber)
    {
    }
    ~OutputGroup();
    OutputGroup(const OutputGroup&) = delete;
    OutputGroup& operator=(const OutputGroup&) = delete;

    void add(const std::string& target, std::string_view bytes);
    void add(const std::string& target, const Bytes& bytes)
    {
        add(target, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    // A member filled by the caller in several steps (files updated in place): its temporary is
    // created empty; returns its path.
    const std::string& addEmpty(const std::string& target);
    // Puts every member in place, or (on any failure, or after stopCommits()) none: raises the
    // error and leaves every target as it was.
    void commit();

    std::size_t size() const { return members_.size(); }
    const std::string& target(std::size_t i) const { return members_[i].target; }

private:
    struct Member {
        std::string target;
        std::string temp;
        std::string backup; // the previous target, kept aside while the group commits
        std::intptr_t fd = -1; // the temporary, while it is written
        bool replaced = false; // placed by this group (to be undone on a later failure)
        // A dry run without replacing: the target exists, and holds exactly the bytes given.
        bool exists = false;
        bool same = false;
    };
    Member& prepare(const std::string& target);
    void rollBack(std::size_t count);

    std::vector<Member> members_;
    bool dryRun_ = false;
    bool noClobber_ = false;
    bool done_ = false;
};

// Raised by a NoClobber group's commit() when one of its targets exists: nothing was written.
class TargetExists : public RawdatError {
public:
    explicit TargetExists(const std::string& target)
        : RawdatError(target + " exists; nothing written"), target_(target)
    {
    }
    const std::string& target() const { return target_; }

private:
    std::string target_;
};

// Refuses, as OutputGroup::add does, a target that exists and is not a regular file or is marked
// read-only; true when it exists.
bool checkReplaceable(const std::string& target);

// What `path` is when it exists and is not a regular file, the link itself not followed: "a
// folder", "a symbolic link", "a FIFO", "a socket" or "a device"; nullopt otherwise.
std::optional<std::string> nonRegularKindOf(const std::string& path);
// False when `folder` (the current folder when empty) exists and this process, by its effective
// user and groups, may not create files in it (or it is on a read-only file system). A folder
// that cannot be looked up gives true: writing in it then says why.
bool canWriteIn(const std::string& folder);
// Why `path` does not open for reading, in the runtime's text: the reason its look-up fails, or
// "Accès au fichier refusé" when it exists.
const char* whyNotReadable(const std::string& path);
// The runtime's text for the system error `e` (an errno value).
const char* errorText(int e);
// Opens each of the standard descriptors 0, 1 and 2 that is closed on /dev/null, so that no file
// the program opens later takes its place (and receives what is printed). False when one could
// not be opened.
bool openStandardStreams();

// A file's identity on its device, following symbolic links; nullopt when it does not exist.
struct FileId {
    std::uint64_t device;
    std::uint64_t inode;
    auto operator<=>(const FileId&) const = default;
};
std::optional<FileId> fileId(const std::string& path);
// The same file: the same absolute path, or the same device and inode.
bool sameFile(const std::string& a, const std::string& b);

// A folder as the file system knows it, whatever path names it (symbolic links followed): its
// identity, and whether it ignores letter case in names (FAT, exFAT, SMB shares, case-folding
// folders of ext4). nullopt when it does not exist.
struct FolderInfo {
    FileId id;
    bool ignoresCase = false;
};
std::optional<FolderInfo> folderInfo(const std::string& folder);

// Replaces (or creates) `path` with `bytes`: a group of one.
void writeFileAtomic(const std::string& path, std::string_view bytes);
inline void writeFileAtomic(const std::string& path, const Bytes& bytes)
{
    writeFileAtomic(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// A file built in several steps (created, then updated in place) that replaces its target only
// once whole, with other outputs of the same group: the steps write to path(), a temporary in the
// target's folder; commit() puts the group in place.
class PendingFile {
public:
    explicit PendingFile(const std::string& target,
                         OutputGroup::Placement placement = OutputGroup::Placement::Replace)
        : group_(OutputGroup::Mode::Write, placement), target_(target), temp_(group_.addEmpty(target))
    {
    }
    const std::string& path() const { return temp_; }
    // Other outputs that are put in place with this one.
    OutputGroup& group() { return group_; }
    // Runs one step that writes path(); its input/output errors name the target, the file the
    // user knows.
    template <class Step>
    void step(Step&& write)
    {
        try {
            write();
        } catch (const InOutError& e) {
            rethrowNamingTarget(e);
        }
    }
    // Puts the file, on the disk, in place with the other outputs of its group.
    void commit();

private:
    [[noreturn]] void rethrowNamingTarget(const InOutError& e) const;

    OutputGroup group_;
    std::string target_;
    std::string temp_;
};

// Raised by commit() once stopCommits() has been called: the group was discarded.
class Interrupted : public RawdatError {
public:
    Interrupted() : RawdatError("interrupted; nothing written") {}
};
// From now on no group commits: a commit in progress finishes, later ones are discarded. For the
// converter's signal handling.
void stopCommits();
bool commitsStopped();
// Groups commit again: the window's batch, once cancelled and ended, leaves the window working.
void resumeCommits();
// Removes every temporary this process has created and not yet renamed or removed.
void removeTemporaries();

// Updates an existing file in place at `offset` (the file is opened for reading and writing,
// never created). Used for formats whose records are filled one at a time.
void writeInPlace(const std::string& path, std::size_t offset, const Bytes& bytes);

// True when `path` names an existing regular file that opens for reading and writing.
bool opensForWriting(const std::string& path);
// True when `path` names an existing regular file that opens for reading.
bool opensForReading(const std::string& path);

// `name` in `folder`: the exact name if an entry is spelled so, else the first entry (in name
// order) whose name differs only in ASCII letter case (in a folder that ignores case, the name as
// the folder spells it), else the exact name (which then does not exist).
std::string findFileIgnoringCase(const std::string& folder, const std::string& name);

// Test hook for write-fault injection: the k-th file operation (create, write, flush, close,
// keeping a previous file aside, rename) from now on fails as a full disk would; 0 switches it
// off. Per thread.
namespace testing {
void failOperation(int k);
int operationsCounted();
} // namespace testing

} // namespace rawdat::fsio
