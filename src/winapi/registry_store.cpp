/*
 * Hive files: reading with a parse cache, and writing under a lock file through a
 * temporary file and a rename.
 *
 * The cache trusts a file whose identity (device, inode, size, modification and
 * change times to the nanosecond) is unchanged. The cache keeps each file it
 * parsed open, so its inode cannot be freed and handed to another file while the
 * entry lives: writers of this stand-in replace the file by a rename, which always
 * gives a new identity (so no count of writes needs to be kept beside the hive),
 * and a rewrite in place moves the change time, which no one can set back. What
 * identity cannot show is a rewrite in place within the step in which file times
 * advance (a test fixture writing the file twice in a few milliseconds with the
 * same size): a file read within that step of its last change is "racy" and has
 * its bytes compared on the next look, until a read finds it settled. A file this process wrote under the lock is known as written.
 */
#include "winapi/registry_hive.h"
#include "winapi/wa_private.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "winapi/wa_testhooks.h"

namespace wa {
namespace reg {

namespace {

constexpr size_t kMaxCachedHives = 16;
constexpr long long kNanosPerSecond = 1000000000LL;

struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    struct timespec mtime {};
    struct timespec ctime {};

    bool operator==(const FileIdentity &o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

FileIdentity IdentityOf(const struct stat &st) {
    FileIdentity id;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtime = st.st_mtim;
    id.ctime = st.st_ctim;
    return id;
}

long long Nanos(const struct timespec &t) { return static_cast<long long>(t.tv_sec) * kNanosPerSecond + t.tv_nsec; }

long long NowNanos() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return Nanos(now);
}

/* The step in which file times advance: the kernel's coarse clock tick (twice,
 * with 10 ms at least), or two seconds on a file system without sub-second times. */
long long TimeStepNanos(const FileIdentity &id) {
    if (id.mtime.tv_nsec == 0 && id.ctime.tv_nsec == 0) return 2 * kNanosPerSecond;
    struct timespec tick {};
    clock_getres(CLOCK_REALTIME_COARSE, &tick);
    return std::max(2 * Nanos(tick), 10 * kNanosPerSecond / 1000);
}

/* Whether a read that began at `readStart` may have missed a later rewrite that
 * left the file's times as they were. */
bool IsRacy(const FileIdentity &id, long long readStart) {
    return readStart - std::max(Nanos(id.mtime), Nanos(id.ctime)) <= TimeStepNanos(id);
}

/* A file's bytes, in a PageBlock: reading 5.7 MB took 25-40 ms into small pages
 * taken one fault at a time and 1-2 ms into huge ones. */
class FileBytes {
public:
    /* Reads the file from its position to its end, in one piece when it holds
     * the `sizeHint` bytes fstat gave. */
    bool Read(int fd, size_t sizeHint) {
        if (!block_.Reserve(sizeHint + 1)) return false;
        for (;;) {
            if (size_ == block_.capacity() && !block_.Reserve(block_.capacity() * 2)) return false;
            const ssize_t n = read(fd, block_.data() + size_, block_.capacity() - size_);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) return true;
            size_ += static_cast<size_t>(n);
        }
    }

    std::string_view view() const { return std::string_view(block_.data(), size_); }

private:
    PageBlock block_;
    size_t size_ = 0;
};

struct CacheEntry {
    FileIdentity id;
    FdGuard file;       /* the file as parsed, kept open so its inode stays its own */
    bool racy = false;  /* bytes are compared on the next look */
    std::shared_ptr<const FileBytes> bytes;  /* kept only while racy */
    std::shared_ptr<const Snapshot> snapshot;
};

std::mutex gCacheMutex;
/* Left to the end of the process: taking a large tree apart at exit only costs. */
std::map<std::string, CacheEntry> &gCache = *new std::map<std::string, CacheEntry>;
std::atomic<unsigned> gTempCounter{0};
std::atomic<unsigned long> gFileReads{0};

/* Caches the state of the file at `path` (gCacheMutex held); a full cache is emptied first. */
void Remember(const std::string &path, CacheEntry entry) {
    if (gCache.size() >= kMaxCachedHives && gCache.find(path) == gCache.end()) gCache.clear();
    gCache[path] = std::move(entry);
}

std::shared_ptr<const Snapshot> EmptySnapshot(HiveId id, const std::string &path) {
    auto snap = std::make_shared<Snapshot>();
    snap->root = std::make_shared<const Key>(HiveRootName(id));
    snap->path = path;
    return snap;
}

void ReportCorrupt(const Snapshot &snap, const char *consequence) {
    fprintf(stderr, "registry: %s, line %d: %s; %s\n", snap.path.c_str(), snap.errorLine, snap.error.c_str(),
            consequence);
}

/* A second descriptor of `fd` for the cache to hold. */
FdGuard Keep(int fd) { return FdGuard(fcntl(fd, F_DUPFD_CLOEXEC, 0)); }

/* The cached snapshot of the file at `path` when the file is still the one
 * parsed (and settled), else null. */
std::shared_ptr<const Snapshot> Cached(const std::string &path, const FileIdentity &identity) {
    std::lock_guard<std::mutex> lock(gCacheMutex);
    auto it = gCache.find(path);
    if (it != gCache.end() && it->second.id == identity && !it->second.racy) return it->second.snapshot;
    return nullptr;
}

/* The snapshot of an open hive file, from the cache when the file is unchanged;
 * null when the file cannot be read. */
std::shared_ptr<const Snapshot> SnapshotOfFile(HiveId id, const std::string &path, int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return nullptr;
    const FileIdentity identity = IdentityOf(st);
    if (auto cached = Cached(path, identity)) return cached;
    /* A change after this moment moves the file's times past the step. */
    const long long readStart = NowNanos();
    auto bytes = std::make_shared<FileBytes>();
    ++gFileReads;
    if (!bytes->Read(fd, static_cast<size_t>(st.st_size))) return nullptr;
    const bool racy = IsRacy(identity, readStart);
    std::lock_guard<std::mutex> lock(gCacheMutex);
    auto it = gCache.find(path);
    if (it != gCache.end() && it->second.racy && it->second.bytes->view() == bytes->view()) {
        it->second.id = identity;
        it->second.file = Keep(fd);
        it->second.racy = racy;
        if (!racy) it->second.bytes.reset();
        return it->second.snapshot;
    }
    /* The tree reads each key's values from these bytes when they are first asked for. */
    ParseResult parsed = ParseHive(bytes->view(), bytes, HiveRootName(id));
    auto snap = std::make_shared<Snapshot>();
    snap->root = std::shared_ptr<const Key>(std::move(parsed.root));
    snap->path = path;
    snap->corrupt = !parsed.ok;
    snap->errorLine = parsed.errorLine;
    snap->error = parsed.error;
    if (snap->corrupt) ReportCorrupt(*snap, "only the lines before it are read and the file is not written");
    if (!racy) bytes.reset();
    Remember(path, CacheEntry{identity, Keep(fd), racy, std::move(bytes), snap});
    return snap;
}

/* Holds an exclusive flock on the hive's lock file for its lifetime. */
class HiveLock {
public:
    explicit HiveLock(const std::string &lockPath)
        : fd_(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        while (fd_ && flock(fd_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) fd_.reset();
        }
    }
    bool held() const { return static_cast<bool>(fd_); }

private:
    FdGuard fd_; /* closing the last descriptor releases the lock */
};

const char *HiveFileName(HiveId id) {
    switch (id) {
        case HiveId::Machine: return "HKLM.reg";
        case HiveId::CurrentUser: return "HKCU.reg";
        case HiveId::Users: return "HKU.reg";
    }
    return "HKLM.reg";
}

}  // namespace

const char *HiveRootName(HiveId id) {
    switch (id) {
        case HiveId::Machine: return "HKEY_LOCAL_MACHINE";
        case HiveId::CurrentUser: return "HKEY_CURRENT_USER";
        case HiveId::Users: return "HKEY_USERS";
    }
    return "HKEY_LOCAL_MACHINE";
}

std::string HivePath(HiveId id) { return RootDir() + "/registry/" + HiveFileName(id); }

std::shared_ptr<const Snapshot> LoadHive(HiveId id) {
    const std::string path = HivePath(id);
    /* The cache holds the file it parsed open, so no other file can show its identity. */
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (auto cached = Cached(path, IdentityOf(st))) return cached;
    }
    const FdGuard fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::shared_ptr<const Snapshot> snap = fd ? SnapshotOfFile(id, path, fd.get()) : nullptr;
    return snap ? snap : EmptySnapshot(id, path);
}

LONG ModifyHive(HiveId id, const std::function<LONG(Key &root, bool *changed)> &change,
                const std::function<bool(const Key &root)> &unchanged) {
    if (!EnsureRootSubdir("registry")) return ERROR_CANTWRITE;
    const std::string path = HivePath(id);
    HiveLock lock(path + ".lock");
    if (!lock.held()) return ERROR_CANTWRITE;

    std::shared_ptr<const Snapshot> current;
    {
        const FdGuard fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd && errno != ENOENT) return ERROR_CANTREAD;
        current = fd ? SnapshotOfFile(id, path, fd.get()) : EmptySnapshot(id, path);
    }
    if (!current) return ERROR_CANTREAD;
    if (current->corrupt) {
        ReportCorrupt(*current, "the change is refused and the file is left as it is");
        return ERROR_REGISTRY_CORRUPT;
    }
    if (unchanged && unchanged(*current->root)) return ERROR_SUCCESS;

    std::unique_ptr<Key> edited = current->root->Clone();
    bool changed = false;
    const LONG rc = change(*edited, &changed);
    if (rc != ERROR_SUCCESS || !changed) return rc;

    std::string text = SerializeHive(*edited, HiveRootName(id));
    const std::string temp = path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(gTempCounter++);
    const int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) return ERROR_CANTWRITE;
    const bool written = WriteAll(out, text.data(), text.size());
    if (close(out) != 0 || !written || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }

    /* Still under the lock: the file is the one just written. */
    FdGuard writtenFile(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (writtenFile && fstat(writtenFile.get(), &st) == 0) {
        auto snap = std::make_shared<Snapshot>();
        snap->root = std::shared_ptr<const Key>(std::move(edited));
        snap->path = path;
        std::lock_guard<std::mutex> guard(gCacheMutex);
        Remember(path, CacheEntry{IdentityOf(st), std::move(writtenFile), false, nullptr, snap});
    }
    return ERROR_SUCCESS;
}

}  // namespace reg
}  // namespace wa

namespace wa_test {

unsigned long HiveFileReads() { return wa::reg::gFileReads.load(); }

}  // namespace wa_test
