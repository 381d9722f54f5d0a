// ListingCache: folder lists kept under the exact bytes of the file they were read from.
#include "store/listing_cache.h"

#include <cstring>

ListingCache& ListingCache::Shared() {
    // Never destroyed: connections may still be finishing while the process ends.
    static ListingCache* cache = new ListingCache;
    return *cache;
}

void ListingCache::SetLimit(uint64_t bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    limit_ = bytes;
    Trim();
}

namespace {

// Whether the open file, from where it is to its end, holds exactly the bytes of text.
bool SameBytes(File& file, const std::string& text) {
    if (file.Size() != static_cast<int64_t>(text.size()))
        return false;
    constexpr uint32_t kPiece = 64u << 10;
    std::unique_ptr<char[]> piece(new char[kPiece]);
    size_t done = 0;
    for (;;) {
        const uint32_t n = file.Read(piece.get(), kPiece);
        if (n == 0)
            return done == text.size();
        if (n > text.size() - done || std::memcmp(piece.get(), text.data() + done, n) != 0)
            return false;
        done += n;
    }
}

}  // namespace

std::shared_ptr<const Listing> ListingCache::Find(const std::string& path, File& file,
                                                  uint64_t changes) {
    std::shared_ptr<const Listing> listing;
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (Kept& k : kept_) {
            if (k.path == path) {
                k.lastUse = ++clock_;
                if (changes != 0 && k.changes == changes)
                    return k.listing;
                listing = k.listing;
                break;
            }
        }
    }
    // Compared outside the lock: a kept list never changes.
    if (listing == nullptr || listing->text == nullptr || !SameBytes(file, *listing->text))
        return nullptr;
    if (changes != 0) {
        // Equal under this count: so it stays until the count moves.
        std::lock_guard<std::mutex> hold(lock_);
        for (Kept& k : kept_) {
            if (k.path == path && k.listing == listing)
                k.changes = changes;
        }
    }
    return listing;
}

void ListingCache::Add(const std::string& path, std::shared_ptr<const Listing> listing,
                       uint64_t changes) {
    const uint64_t size = listing->Bytes();
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < kept_.size(); ++i) {
        if (kept_[i].path == path) {
            bytes_ -= kept_[i].size;
            kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    if (size > limit_)
        return;
    kept_.push_back({path, std::move(listing), size, ++clock_, changes});
    bytes_ += size;
    Trim();
}

uint64_t ListingCache::Bytes() const {
    std::lock_guard<std::mutex> hold(lock_);
    return bytes_;
}

void ListingCache::Trim() {
    while (bytes_ > limit_ && !kept_.empty()) {
        size_t oldest = 0;
        for (size_t i = 1; i < kept_.size(); ++i) {
            if (kept_[i].lastUse < kept_[oldest].lastUse)
                oldest = i;
        }
        bytes_ -= kept_[oldest].size;
        kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(oldest));
    }
}
