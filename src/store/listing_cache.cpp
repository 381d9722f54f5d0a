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

std::shared_ptr<const Listing> ListingCache::Find(const std::string& path, const FileBytes& bytes) {
    std::shared_ptr<const Listing> listing;
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (Kept& k : kept_) {
            if (k.path == path) {
                k.lastUse = ++clock_;
                listing = k.listing;
                break;
            }
        }
    }
    // Compared outside the lock: a kept list never changes.
    const FileBytes* kept = listing != nullptr ? listing->text.get() : nullptr;
    if (kept == nullptr || kept->size != bytes.size ||
        std::memcmp(kept->data.get(), bytes.data.get(), bytes.size) != 0)
        return nullptr;
    return listing;
}

void ListingCache::Add(const std::string& path, std::shared_ptr<const Listing> listing) {
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
    kept_.push_back({path, std::move(listing), size, ++clock_});
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
