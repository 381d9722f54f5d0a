#include "store/message_cache.h"

#include <cstring>
#include <iterator>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

// What one kept file costs besides its texts: the node, its list and map links.
constexpr uint64_t kNodeOverhead = 128;

// A 64-bit hash of the form and the path (FNV-1a, then mixed), the map's key. Two files
// with one hash cannot both be kept: the node remembers its path, and a lookup of the other
// finds nothing, as for a file never seen.
uint64_t HashOf(const Text& path, int form) {
    uint64_t h = 0xCBF29CE484222325u ^ static_cast<uint64_t>(form);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(path.c_str());
    for (int i = 0; i < path.Length(); ++i)
        h = (h ^ p[i]) * 0x100000001B3u;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDu;
    h ^= h >> 33;
    return h;
}

}  // namespace

struct MessageCache::Shard {
    struct Node {
        uint64_t hash = 0;
        int form = 0;
        std::string path;
        platform::FileStamp stamp;
        MessageFacts facts;
        uint64_t bytes = 0;

        bool Names(const Text& p, int f) const {
            return form == f && path.size() == static_cast<size_t>(p.Length()) &&
                   std::memcmp(path.data(), p.c_str(), path.size()) == 0;
        }
    };

    // Drops the least recently used nodes until the shard is within its part of the bound.
    void Trim() {
        while (bytes > limit && !order.empty())
            Drop(std::prev(order.end()));
    }

    void Drop(std::list<Node>::iterator node) {
        bytes -= node->bytes;
        nodes.erase(node->hash);
        order.erase(node);
    }

    static uint64_t CostOf(const Node& node) {
        return kNodeOverhead + node.path.size() +
               static_cast<uint64_t>(node.facts.envelope.Length()) +
               static_cast<uint64_t>(node.facts.structure.Length());
    }

    std::mutex lock;
    std::list<Node> order;  // most recently used first
    std::unordered_map<uint64_t, std::list<Node>::iterator> nodes;
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
    const uint64_t hash = HashOf(path, form);
    Shard& shard = shards_[hash % kShards];
    std::lock_guard<std::mutex> hold(shard.lock);
    auto found = shard.nodes.find(hash);
    if (found == shard.nodes.end() || !found->second->Names(path, form))
        return false;
    auto node = found->second;
    if (node->stamp != stamp) {
        // The file changed: what was learned of the old one is of no use any more.
        shard.Drop(node);
        return false;
    }
    shard.order.splice(shard.order.begin(), shard.order, node);
    if ((wanted & kSize) != 0)
        facts->clientSize = node->facts.clientSize;
    if ((wanted & kEnvelope) != 0)
        facts->envelope = node->facts.envelope;
    if ((wanted & kStructure) != 0)
        facts->structure = node->facts.structure;
    return true;
}

void MessageCache::Add(const Text& path, int form, const platform::FileStamp& stamp,
                       const MessageFacts& learned) {
    const uint64_t hash = HashOf(path, form);
    Shard& shard = shards_[hash % kShards];
    std::lock_guard<std::mutex> hold(shard.lock);
    if (shard.limit == 0)
        return;
    auto found = shard.nodes.find(hash);
    if (found != shard.nodes.end() && !found->second->Names(path, form)) {
        // Another file under the same hash: the newer one is kept.
        shard.Drop(found->second);
        found = shard.nodes.end();
    }
    if (found == shard.nodes.end()) {
        shard.order.emplace_front();
        Shard::Node& node = shard.order.front();
        node.hash = hash;
        node.form = form;
        node.path.assign(path.c_str(), static_cast<size_t>(path.Length()));
        node.stamp = stamp;
        found = shard.nodes.emplace(hash, shard.order.begin()).first;
    } else {
        shard.order.splice(shard.order.begin(), shard.order, found->second);
    }
    Shard::Node& node = *found->second;
    if (node.stamp != stamp) {
        node.stamp = stamp;
        node.facts = MessageFacts();
    }
    if (learned.clientSize != 0)
        node.facts.clientSize = learned.clientSize;
    if (!learned.envelope.IsEmpty())
        node.facts.envelope = learned.envelope;
    if (!learned.structure.IsEmpty())
        node.facts.structure = learned.structure;
    shard.bytes -= node.bytes;
    node.bytes = Shard::CostOf(node);
    shard.bytes += node.bytes;
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
        for (const Shard::Node& node : shards_[i].order) {
            if (node.path.size() <= n || node.path.compare(0, n, directory.c_str(), n) != 0 ||
                node.path.find_first_of("\\/", n) != std::string::npos)
                continue;
            out->push_back({node.path.substr(n), node.form, node.stamp, node.facts});
        }
    }
}

uint64_t MessageCache::Count() const {
    uint64_t total = 0;
    for (int i = 0; i < kShards; ++i) {
        std::lock_guard<std::mutex> hold(shards_[i].lock);
        total += shards_[i].nodes.size();
    }
    return total;
}
