#include "store/message_cache.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

namespace {

// What one kept file costs besides its bytes: its fixed part and its share of the slots.
constexpr uint64_t kFileOverhead = 128;
// The fewest slots of a shard that keeps anything.
constexpr size_t kFirstSlots = 64;

uint64_t Mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDu;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53u;
    h ^= h >> 33;
    return h;
}

// A 64-bit hash of the form and the path, eight bytes at a step: a path is hashed at every
// lookup, and byte-wise hashing of it cost more than the table's own work. Two paths with one
// hash are both kept; the path itself decides.
uint64_t HashOf(const char* path, int length, int form) {
    uint64_t h =
        0x9E3779B97F4A7C15u ^ (static_cast<uint64_t>(form) << 56) ^ static_cast<uint64_t>(length);
    const char* p = path;
    int left = length;
    for (; left >= 8; left -= 8, p += 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        h = (h ^ word) * 0x9FB21C651E98DF25u;
        h ^= h >> 31;
    }
    if (left > 0) {
        uint64_t word = 0;
        std::memcpy(&word, p, static_cast<size_t>(left));
        h = (h ^ word) * 0x9FB21C651E98DF25u;
    }
    return Mix(h);
}

}  // namespace

struct MessageCache::Shard {
    // One kept file: its path and the texts in one block of bytes, path first.
    struct File {
        uint64_t hash = 0;
        platform::FileStamp stamp;
        uint32_t clientSize = 0;
        uint32_t pathLength = 0;
        uint32_t envelopeLength = 0;
        uint32_t structureLength = 0;
        int form = 0;
        bool used = false;  // looked up or learned since the clock's hand last passed
        std::unique_ptr<char[]> bytes;

        const char* Envelope() const { return bytes.get() + pathLength; }
        const char* Structure() const { return bytes.get() + pathLength + envelopeLength; }
        uint64_t Cost() const {
            return kFileOverhead + pathLength + envelopeLength + structureLength;
        }
        bool Names(const char* p, int length, int f) const {
            return form == f && pathLength == static_cast<uint32_t>(length) &&
                   std::memcmp(bytes.get(), p, pathLength) == 0;
        }
        // Replaces the texts (the path stays).
        void SetTexts(const char* envelope, uint32_t envelopeBytes, const char* structure,
                      uint32_t structureBytes) {
            std::unique_ptr<char[]> fresh(new char[pathLength + envelopeBytes + structureBytes]);
            std::memcpy(fresh.get(), bytes.get(), pathLength);
            if (envelopeBytes > 0)
                std::memcpy(fresh.get() + pathLength, envelope, envelopeBytes);
            if (structureBytes > 0)
                std::memcpy(fresh.get() + pathLength + envelopeBytes, structure, structureBytes);
            bytes = std::move(fresh);
            envelopeLength = envelopeBytes;
            structureLength = structureBytes;
        }
    };
    // A place in the open-addressed table: the file's hash, and its index in files plus one
    // (0: empty). The hash sits in the slot, so a probe past other files reads no file.
    struct Slot {
        uint64_t hash = 0;
        uint32_t file = 0;
    };

    size_t Home(uint64_t hash) const { return static_cast<size_t>(hash >> 8) & (slots.size() - 1); }

    // The slot of the file of the path's hash, form and length that holds the stamp, or else
    // of the file the path and form name, or -1. The first needs no look at the path: a file
    // with this stamp is this very file (a link to it at most), whose facts are the same.
    long LocateStamped(uint64_t hash, const char* path, int length, int form,
                       const platform::FileStamp& stamp) const {
        if (slots.empty())
            return -1;
        const size_t mask = slots.size() - 1;
        long named = -1;
        for (size_t i = Home(hash); slots[i].file != 0; i = (i + 1) & mask) {
            if (slots[i].hash != hash)
                continue;
            const File& file = files[slots[i].file - 1];
            if (file.form == form && file.pathLength == static_cast<uint32_t>(length) &&
                file.stamp == stamp)
                return static_cast<long>(i);
            if (named < 0 && file.Names(path, length, form))
                named = static_cast<long>(i);
        }
        return named;
    }

    // The slot of the file the path and form name, or -1.
    long Locate(uint64_t hash, const char* path, int length, int form) const {
        if (slots.empty())
            return -1;
        const size_t mask = slots.size() - 1;
        for (size_t i = Home(hash); slots[i].file != 0; i = (i + 1) & mask) {
            if (slots[i].hash == hash && files[slots[i].file - 1].Names(path, length, form))
                return static_cast<long>(i);
        }
        return -1;
    }

    // The slot of files[index].
    size_t SlotOf(size_t index) const {
        const size_t mask = slots.size() - 1;
        size_t i = Home(files[index].hash);
        while (slots[i].file != index + 1)
            i = (i + 1) & mask;
        return i;
    }

    void Place(uint64_t hash, uint32_t file) {
        const size_t mask = slots.size() - 1;
        size_t i = Home(hash);
        while (slots[i].file != 0)
            i = (i + 1) & mask;
        slots[i].hash = hash;
        slots[i].file = file;
    }

    // Adds a file with its path and texts; the table stays at most half full.
    File& Insert(uint64_t hash, const char* path, int length, int form,
                 const platform::FileStamp& stamp, const char* envelope, uint32_t envelopeBytes,
                 const char* structure, uint32_t structureBytes) {
        if ((files.size() + 1) * 2 > slots.size()) {
            slots.assign(slots.empty() ? kFirstSlots : slots.size() * 2, Slot());
            for (size_t i = 0; i < files.size(); ++i)
                Place(files[i].hash, static_cast<uint32_t>(i + 1));
        }
        files.emplace_back();
        File& file = files.back();
        file.hash = hash;
        file.form = form;
        file.stamp = stamp;
        file.pathLength = static_cast<uint32_t>(length);
        file.envelopeLength = envelopeBytes;
        file.structureLength = structureBytes;
        file.bytes.reset(new char[static_cast<size_t>(length) + envelopeBytes + structureBytes]);
        std::memcpy(file.bytes.get(), path, static_cast<size_t>(length));
        if (envelopeBytes > 0)
            std::memcpy(file.bytes.get() + length, envelope, envelopeBytes);
        if (structureBytes > 0)
            std::memcpy(file.bytes.get() + length + envelopeBytes, structure, structureBytes);
        bytes += file.Cost();
        Place(hash, static_cast<uint32_t>(files.size()));
        return file;
    }

    // Forgets the file at the slot: the slots after it that belong nearer move back (so no
    // probe ever stops short of a file), and the last file takes its place in files.
    void Drop(size_t slot) {
        const size_t index = slots[slot].file - 1;
        const size_t mask = slots.size() - 1;
        size_t hole = slot;
        for (size_t j = (slot + 1) & mask; slots[j].file != 0; j = (j + 1) & mask) {
            const size_t home = Home(slots[j].hash);
            // Whether home lies cyclically in (hole, j]: then the slot stays.
            const bool stays = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
            if (!stays) {
                slots[hole] = slots[j];
                hole = j;
            }
        }
        slots[hole] = Slot();
        bytes -= files[index].Cost();
        const size_t last = files.size() - 1;
        if (index != last) {
            slots[SlotOf(last)].file = static_cast<uint32_t>(index + 1);
            files[index] = std::move(files[last]);
        }
        files.pop_back();
        if (files.empty()) {
            std::vector<Slot>().swap(slots);
            std::vector<File>().swap(files);
            hand = 0;
        }
    }

    // Drops files until the shard is within its part of the bound: the hand goes round the
    // files, giving each one used since it last passed one more round. files[keep], the file
    // just added, goes last, as the most recent one.
    void Trim(size_t keep = SIZE_MAX) {
        while (bytes > limit && !files.empty()) {
            if (hand >= files.size())
                hand = 0;
            File& file = files[hand];
            if (file.used || (hand == keep && files.size() > 1)) {
                file.used = false;
                ++hand;
                continue;
            }
            if (keep == files.size() - 1)
                keep = hand;  // the last file now moves to the hand
            Drop(SlotOf(hand));
        }
    }

    mutable std::mutex lock;
    std::vector<Slot> slots;  // a power of two of them, or none
    std::vector<File> files;
    size_t hand = 0;
    uint64_t bytes = 0;
    uint64_t limit = 0;
};

MessageCache::MessageCache(uint64_t limit) : shards_(new Shard[kShards]) {
    SetLimit(limit);
}

MessageCache::~MessageCache() = default;

MessageCache& MessageCache::Shared() {
    // Never destroyed: a connection thread may still use it while the process ends.
    static MessageCache* shared = new MessageCache;
    return *shared;
}

void MessageCache::SetLimit(uint64_t bytes) {
    for (int i = 0; i < kShards; ++i) {
        std::lock_guard<std::mutex> hold(shards_[i].lock);
        shards_[i].limit = bytes / kShards;
        shards_[i].Trim();
    }
}

bool MessageCache::Find(const Text& path, int form, const platform::FileStamp& stamp,
                        MessageFacts* facts, int wanted) {
    const uint64_t hash = HashOf(path.c_str(), path.Length(), form);
    Shard& shard = shards_[hash % kShards];
    std::lock_guard<std::mutex> hold(shard.lock);
    const long slot = shard.LocateStamped(hash, path.c_str(), path.Length(), form, stamp);
    if (slot < 0)
        return false;
    Shard::File& file = shard.files[shard.slots[static_cast<size_t>(slot)].file - 1];
    if (file.stamp != stamp) {
        // The file changed: what was learned of the old one is of no use any more.
        shard.Drop(static_cast<size_t>(slot));
        return false;
    }
    file.used = true;
    if ((wanted & kSize) != 0)
        facts->clientSize = file.clientSize;
    if ((wanted & kEnvelope) != 0) {
        if (file.envelopeLength > 0)
            facts->envelope.AssignCompact(file.Envelope(), static_cast<int>(file.envelopeLength));
        else
            facts->envelope = Text();
    }
    if ((wanted & kStructure) != 0) {
        if (file.structureLength > 0)
            facts->structure.AssignCompact(file.Structure(),
                                           static_cast<int>(file.structureLength));
        else
            facts->structure = Text();
    }
    return true;
}

void MessageCache::Add(const Text& path, int form, const platform::FileStamp& stamp,
                       const MessageFacts& learned) {
    Add(path.c_str(), path.Length(), form, stamp, learned.clientSize, learned.envelope.c_str(),
        learned.envelope.Length(), learned.structure.c_str(), learned.structure.Length());
}

void MessageCache::Add(const char* path, int pathLength, int form, const platform::FileStamp& stamp,
                       uint32_t clientSize, const char* envelope, int envelopeLength,
                       const char* structure, int structureLength) {
    if (pathLength <= 0)
        return;
    const uint64_t hash = HashOf(path, pathLength, form);
    Shard& shard = shards_[hash % kShards];
    std::lock_guard<std::mutex> hold(shard.lock);
    if (shard.limit == 0)
        return;
    const uint32_t envelopeBytes = envelopeLength > 0 ? static_cast<uint32_t>(envelopeLength) : 0;
    const uint32_t structureBytes =
        structureLength > 0 ? static_cast<uint32_t>(structureLength) : 0;
    const long slot = shard.Locate(hash, path, pathLength, form);
    if (slot < 0) {
        Shard::File& file = shard.Insert(hash, path, pathLength, form, stamp, envelope,
                                         envelopeBytes, structure, structureBytes);
        file.clientSize = clientSize;
        // Not yet used: a file only passed over once (a listing of a folder larger than the
        // cache) goes before those used again.
        shard.Trim(shard.files.size() - 1);
        return;
    }
    Shard::File& file = shard.files[shard.slots[static_cast<size_t>(slot)].file - 1];
    shard.bytes -= file.Cost();
    if (file.stamp != stamp) {
        file.stamp = stamp;
        file.clientSize = 0;
        file.SetTexts(nullptr, 0, nullptr, 0);
    }
    if (clientSize != 0)
        file.clientSize = clientSize;
    if (envelopeBytes > 0 || structureBytes > 0) {
        file.SetTexts(envelopeBytes > 0 ? envelope : file.Envelope(),
                      envelopeBytes > 0 ? envelopeBytes : file.envelopeLength,
                      structureBytes > 0 ? structure : file.Structure(),
                      structureBytes > 0 ? structureBytes : file.structureLength);
    }
    file.used = true;
    shard.bytes += file.Cost();
    shard.Trim();
}

uint64_t MessageCache::Bytes() const {
    uint64_t total = 0;
    for (int i = 0; i < kShards; ++i) {
        std::lock_guard<std::mutex> hold(shards_[i].lock);
        total += shards_[i].bytes;
    }
    return total;
}

void MessageCache::Collect(const Text& directory, std::vector<Record>* out) const {
    const size_t n = static_cast<size_t>(directory.Length());
    for (int i = 0; i < kShards; ++i) {
        std::lock_guard<std::mutex> hold(shards_[i].lock);
        for (const Shard::File& file : shards_[i].files) {
            const char* path = file.bytes.get();
            const size_t length = file.pathLength;
            if (length <= n || std::memcmp(path, directory.c_str(), n) != 0 ||
                std::memchr(path + n, '\\', length - n) != nullptr ||
                std::memchr(path + n, '/', length - n) != nullptr)
                continue;
            Record record;
            record.name.assign(path + n, length - n);
            record.form = file.form;
            record.stamp = file.stamp;
            record.facts.clientSize = file.clientSize;
            if (file.envelopeLength > 0)
                record.facts.envelope.AssignCompact(file.Envelope(),
                                                    static_cast<int>(file.envelopeLength));
            if (file.structureLength > 0)
                record.facts.structure.AssignCompact(file.Structure(),
                                                     static_cast<int>(file.structureLength));
            out->push_back(std::move(record));
        }
    }
}

uint64_t MessageCache::Count() const {
    uint64_t total = 0;
    for (int i = 0; i < kShards; ++i) {
        std::lock_guard<std::mutex> hold(shards_[i].lock);
        total += shards_[i].files.size();
    }
    return total;
}
