// Remembered stamps, on Linux: one inotify instance for the process, one watch per directory.
// A notice for a name forgets that name's stamp; a lost queue, or a directory removed, moved or
// unmounted, forgets the whole directory. Only local file systems are trusted: on a network
// file system another machine's writes are never reported. Elsewhere nothing is watched, and
// every stamp is looked up.
#include "platform/stamp_notices.h"

#ifdef __linux__
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/stamp_table.h"

namespace platform {
namespace notices {

struct Watched {
    std::string path;
    // The directory watched, and its watch (-1: none now, nothing is remembered).
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t lastUse = 0;  // under the registry's lock
    std::mutex lock;       // what follows; the watch is changed under both locks
    int watch = -1;
    StampTable stamps;
    uint64_t count = 0;
};

namespace {

// 64 bytes a slot, at most 4 slots a name: 64 MiB at the very most, 25 MiB in a steady state.
constexpr size_t kDefaultBound = 256 * 1024;

class Registry {
  public:
    ~Registry() {
#ifdef __linux__
        if (fd >= 0)
            close(fd);
#endif
    }

    // Forgets every stamp of w (w->lock not held). Called with lock held.
    void ForgetAll(Watched& w) {
        std::lock_guard<std::mutex> hold(w.lock);
        total -= w.stamps.Size();
        w.stamps.Clear();
        ++w.count;
    }

    // Ends w's watch, which the kernel ended or which is about to be replaced.
    void Unwatch(Watched& w) {
        byWatch.erase(w.watch);
        std::lock_guard<std::mutex> hold(w.lock);
        w.watch = -1;
        total -= w.stamps.Size();
        w.stamps.Clear();
        ++w.count;
    }

    void TakeLocked();

    std::mutex lock;  // everything below, and the reading of fd
    int fd = -2;      // -2: not opened yet; -1: cannot be
    std::unordered_map<std::string, std::unique_ptr<Watched>> byPath;
    std::unordered_map<int, Watched*> byWatch;
    std::atomic<size_t> total{0};  // names remembered, changed under a directory's lock
    size_t bound = kDefaultBound;
    uint64_t tick = 0;
};

Registry& Shared() {
    static Registry registry;
    return registry;
}

#ifdef __linux__
// File systems whose changes the kernel reports for every writer: all are on this machine.
bool IsLocalFileSystem(int fd) {
    struct statfs fs;
    if (fstatfs(fd, &fs) != 0)
        return false;
    switch (static_cast<uint64_t>(fs.f_type)) {
        case 0xEF53:      // ext2, ext3, ext4
        case 0x58465342:  // xfs
        case 0x9123683E:  // btrfs
        case 0x01021994:  // tmpfs
        case 0xF2F52010:  // f2fs
        case 0x2FC12FC1:  // zfs
        case 0x794C7630:  // overlay (containers)
            return true;
        default:
            return false;
    }
}

constexpr uint32_t kMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                           IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
#endif

}  // namespace

void Registry::TakeLocked() {
#ifdef __linux__
    if (fd < 0)
        return;
    alignas(struct inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return;  // none pending (EAGAIN), or the instance failed: nothing more to take
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(struct inotify_event)) <= got;) {
            const auto* e = reinterpret_cast<const struct inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) {
                for (auto& w : byPath)
                    ForgetAll(*w.second);
                continue;
            }
            auto found = byWatch.find(e->wd);
            if (found == byWatch.end())
                continue;
            Watched& w = *found->second;
            if (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
                // A directory moved away may still be watched: its path now names another.
                if (!(e->mask & IN_IGNORED))
                    inotify_rm_watch(fd, w.watch);
                Unwatch(w);
            } else if (e->len > 0) {
                std::lock_guard<std::mutex> hold(w.lock);
                if (w.stamps.Erase(e->name, std::strlen(e->name)))
                    --total;
                ++w.count;
            } else {
                ForgetAll(w);
            }
        }
    }
#endif
}

Watched* Watch(const std::string& path, int fd) {
#ifdef __linux__
    Registry& r = Shared();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.fd == -2) {
        r.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (r.fd < 0)
            r.fd = -1;
    }
    if (r.fd < 0 || fd < 0)
        return nullptr;
    r.TakeLocked();
    struct stat st;
    if (fstat(fd, &st) != 0)
        return nullptr;
    std::unique_ptr<Watched>& slot = r.byPath[path];
    if (!slot) {
        slot.reset(new Watched);
        slot->path = path;
    }
    Watched& w = *slot;
    const auto device = static_cast<uint64_t>(st.st_dev);
    const auto inode = static_cast<uint64_t>(st.st_ino);
    if (w.watch >= 0 && (w.device != device || w.inode != inode)) {
        // Another directory under the same path: what was remembered is of the old one.
        inotify_rm_watch(r.fd, w.watch);
        r.Unwatch(w);
    }
    if (w.watch < 0) {
        if (!IsLocalFileSystem(fd))
            return nullptr;
        // Watched through the open descriptor, so the watch is on the very directory the walk
        // stamps in, even if the path was replaced a moment ago.
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        const int watch = inotify_add_watch(r.fd, self, kMask);
        if (watch < 0)
            return nullptr;
        auto other = r.byWatch.find(watch);
        if (other != r.byWatch.end() && other->second != &w)
            return nullptr;  // the same directory under another spelling keeps its own watch
        w.device = device;
        w.inode = inode;
        r.byWatch[watch] = &w;
        std::lock_guard<std::mutex> begin(w.lock);
        w.watch = watch;
    }
    w.lastUse = ++r.tick;
    return &w;
#else
    (void)path;
    (void)fd;
    return nullptr;
#endif
}

void Take() {
    Registry& r = Shared();
    std::lock_guard<std::mutex> hold(r.lock);
    r.TakeLocked();
}

bool Recall(Watched* w, const char* name, FileStamp* out) {
    std::lock_guard<std::mutex> hold(w->lock);
    return w->stamps.Find(name, std::strlen(name), out);
}

uint64_t Count(Watched* w) {
    std::lock_guard<std::mutex> hold(w->lock);
    return w->count;
}

uint64_t Changes(Watched* w) {
    std::lock_guard<std::mutex> hold(w->lock);
    return w->watch >= 0 ? w->count + 1 : 0;
}

size_t Size(Watched* w) {
    std::lock_guard<std::mutex> hold(w->lock);
    return w->stamps.Size();
}

void Remember(Watched* w, const char* name, const FileStamp& stamp, uint64_t count) {
    Registry& r = Shared();
    const size_t length = std::strlen(name);
    {
        std::lock_guard<std::mutex> hold(w->lock);
        if (w->count != count || w->watch < 0)
            return;
        FileStamp kept;
        if (r.total < r.bound || w->stamps.Find(name, length, &kept)) {
            if (w->stamps.Put(name, length, stamp) == 1)
                ++r.total;
            return;
        }
    }
    // Full: the directories used longest ago forget everything; this one keeps what it has.
    std::lock_guard<std::mutex> hold(r.lock);
    while (r.total >= r.bound) {
        Watched* oldest = nullptr;
        for (auto& entry : r.byPath) {
            Watched* other = entry.second.get();
            if (other != w && other->watch >= 0 &&
                (oldest == nullptr || other->lastUse < oldest->lastUse)) {
                std::lock_guard<std::mutex> peek(other->lock);
                if (other->stamps.Size() != 0)
                    oldest = other;
            }
        }
        if (oldest == nullptr)
            return;
        r.ForgetAll(*oldest);
    }
    std::lock_guard<std::mutex> again(w->lock);
    if (w->count == count && w->watch >= 0 && w->stamps.Put(name, length, stamp) == 1)
        ++r.total;
}

void SetBound(size_t names) {
    Registry& r = Shared();
    std::lock_guard<std::mutex> hold(r.lock);
    r.bound = names == 0 ? kDefaultBound : names;
}

}  // namespace notices
}  // namespace platform
