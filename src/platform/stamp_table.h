// StampTable: the stamps of a directory's files under their names, as the remembered stamps of
// a watched directory keep them. One open-addressed table, a slot a cache line holding the name
// itself, so a lookup in a folder of many thousand files touches one line and allocates
// nothing. Names longer than kLongest bytes are not kept. Not thread-safe. Pure code.
#ifndef ORV_PLATFORM_STAMP_TABLE_H_
#define ORV_PLATFORM_STAMP_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/files.h"

namespace platform {

class StampTable {
  public:
    static constexpr size_t kLongest = 27;

    // The stamp kept for name (length bytes); false when none is.
    bool Find(const char* name, size_t length, FileStamp* out) const;
    // Keeps the stamp for name, replacing one kept. 1 when the name is new, 0 when it was
    // kept already, -1 when it is too long (or empty) to be kept.
    int Put(const char* name, size_t length, const FileStamp& stamp);
    // Forgets name; true when it was kept.
    bool Erase(const char* name, size_t length);
    // Forgets everything and gives the memory back.
    void Clear();
    size_t Size() const { return size_; }

  private:
    struct Slot {
        uint32_t hash = 0;
        uint8_t length = 0;  // 0: free
        char name[kLongest] = {};
        FileStamp stamp;
    };
    static uint32_t HashOf(const char* name, size_t length);
    // The slot holding name, or the free slot where it would go.
    size_t Locate(const char* name, size_t length, uint32_t hash) const;
    void Grow();

    std::vector<Slot> slots_;  // a power of two in size, never more than 3/4 used
    size_t size_ = 0;
};

}  // namespace platform

#endif  // ORV_PLATFORM_STAMP_TABLE_H_
