#include "platform/stamp_table.h"

#include <cstring>

namespace platform {

uint32_t StampTable::HashOf(const char* name, size_t length) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ static_cast<unsigned char>(name[i])) * 16777619u;
    // Folder names differ mostly in their last digits: those are spread over the table's bits.
    return hash ^ (hash >> 15);
}

size_t StampTable::Locate(const char* name, size_t length, uint32_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.length == 0 || (slot.hash == hash && slot.length == length &&
                                 std::memcmp(slot.name, name, length) == 0))
            return i;
    }
}

bool StampTable::Find(const char* name, size_t length, FileStamp* out) const {
    if (size_ == 0 || length == 0 || length > kLongest)
        return false;
    const Slot& slot = slots_[Locate(name, length, HashOf(name, length))];
    if (slot.length == 0)
        return false;
    *out = slot.stamp;
    return true;
}

int StampTable::Put(const char* name, size_t length, const FileStamp& stamp) {
    if (length == 0 || length > kLongest)
        return -1;
    if ((size_ + 1) * 4 > slots_.size() * 3)
        Grow();
    const uint32_t hash = HashOf(name, length);
    Slot& slot = slots_[Locate(name, length, hash)];
    slot.stamp = stamp;
    if (slot.length != 0)
        return 0;
    slot.hash = hash;
    slot.length = static_cast<uint8_t>(length);
    std::memcpy(slot.name, name, length);
    ++size_;
    return 1;
}

bool StampTable::Erase(const char* name, size_t length) {
    if (size_ == 0 || length == 0 || length > kLongest)
        return false;
    const size_t mask = slots_.size() - 1;
    size_t hole = Locate(name, length, HashOf(name, length));
    if (slots_[hole].length == 0)
        return false;
    // Later slots of the run move back into the hole unless their own place lies after it,
    // so every name stays reachable from its place without markers of erased names.
    for (size_t next = (hole + 1) & mask; slots_[next].length != 0; next = (next + 1) & mask) {
        const size_t home = slots_[next].hash & mask;
        const bool stays =
            hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
        if (!stays) {
            slots_[hole] = slots_[next];
            hole = next;
        }
    }
    slots_[hole].length = 0;
    --size_;
    return true;
}

void StampTable::Clear() {
    std::vector<Slot>().swap(slots_);
    size_ = 0;
}

void StampTable::Grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.resize(old.empty() ? 64 : old.size() * 2);
    const size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.length == 0)
            continue;
        size_t i = slot.hash & mask;
        while (slots_[i].length != 0)
            i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

}  // namespace platform
