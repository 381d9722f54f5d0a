// ListingCache: the folder lists the server read lately, each kept with the bytes of the file it
// was read from and shared by every connection, so that opening a folder whose list did not
// change costs reading the file and comparing it, not parsing every line again.
//
// A list is found only under exactly the bytes it was made from: the host rewrites a line in
// place when a message's status changes, keeping the file's size and often its time, so the
// file's content is the only sure test. Where the system reports every change to the folder's
// directory, the comparison is made once per change: a list whose bytes were found equal
// under the directory's change count (platform::DirectoryStamps::ChangeCount) is the file's as
// long as that count stays. Bounded in bytes; the least recently used go first.
#ifndef ORV_STORE_LISTING_CACHE_H_
#define ORV_STORE_LISTING_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/file.h"
#include "store/message_index.h"

class ListingCache {
  public:
    static constexpr uint64_t kDefaultLimit = 128u << 20;

    explicit ListingCache(uint64_t limit = kDefaultLimit) : limit_(limit) {}
    ListingCache(const ListingCache&) = delete;
    ListingCache& operator=(const ListingCache&) = delete;

    // The process's cache, which every connection uses.
    static ListingCache& Shared();

    // Sets the bound in bytes (0: nothing is kept) and drops what no longer fits.
    void SetLimit(uint64_t bytes);

    // The list read from the file at path when the open file (read from its start) holds
    // exactly the bytes it was read from; null when none is kept or the file differs. Read a
    // piece at a time, so that an unchanged list costs no room of its size. changes: the
    // change count of the file's directory, read before the file was opened (0: none), under
    // which a list found equal before is given without reading the file.
    std::shared_ptr<const Listing> Find(const std::string& path, File& file, uint64_t changes = 0);
    // Keeps listing as read from the file at path (the bytes it holds), in place of an older
    // one; changes: the directory's change count read before the file was read (0: none).
    void Add(const std::string& path, std::shared_ptr<const Listing> listing, uint64_t changes = 0);

    // The bytes counted against the bound.
    uint64_t Bytes() const;

  private:
    struct Kept {
        std::string path;
        std::shared_ptr<const Listing> listing;
        uint64_t size = 0;
        uint64_t lastUse = 0;
        uint64_t changes = 0;  // the change count its bytes were last found under (0: none)
    };
    // Drops the least recently used until the bound holds.
    void Trim();

    mutable std::mutex lock_;
    std::vector<Kept> kept_;
    uint64_t limit_;
    uint64_t bytes_ = 0;
    uint64_t clock_ = 0;
};

#endif  // ORV_STORE_LISTING_CACHE_H_
