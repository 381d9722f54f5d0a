#include "store/message_cache.h"

#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

// What one kept file costs besides its texts: the node, its list and map links, the key twice.
constexpr uint64_t kNodeOverhead = 160;

}  // namespace

struct MessageCache::Shard {
    struct Node {
        std::string key;
        platform::FileStamp stamp;
        MessageFacts facts;
        uint64_t bytes = 0;
    };

    // Drops the least recently used nodes until the shard is within its part of the bound.
    void Trim() {
        while (bytes > limit && !order.empty()) {
            Node& last = order.back();
            bytes -= last.bytes;
            nodes.erase(last.key);
            order.pop_back();
        }
    }

    static uint64_t CostOf(const Node& node) {
        return kNodeOverhead + 2 * node.key.size() +
               static_cast<uint64_t>(node.facts.envelope.Length()) +
               static_cast<uint64_t>(node.facts.structure.Length());
    }

    std::mutex lock;
    std::list<Node> order;  // most recently used first
    std::unordered_map<std::string, std::list<Node>::iterator> nodes;
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

MessageCache::Shard& MessageCache::ShardOf(const std::string& key) {
    return shards_[std::hash<std::string>()(key) % kShards];
}

namespace {

// The key of a file in one form: the form's number, then the path.
std::string KeyOf(const Text& path, int form) {
    std::string key(1, static_cast<char>('0' + form));
    key.append(path.c_str(), static_cast<size_t>(path.Length()));
    return key;
}

}  // namespace

bool MessageCache::Find(const Text& path, int form, const platform::FileStamp& stamp,
                        MessageFacts* facts) {
    const std::string key = KeyOf(path, form);
    Shard& shard = ShardOf(key);
    std::lock_guard<std::mutex> hold(shard.lock);
    auto found = shard.nodes.find(key);
    if (found == shard.nodes.end())
        return false;
    auto node = found->second;
    if (node->stamp != stamp) {
        // The file changed: what was learned of the old one is of no use any more.
        shard.bytes -= node->bytes;
        shard.order.erase(node);
        shard.nodes.erase(found);
        return false;
    }
    shard.order.splice(shard.order.begin(), shard.order, node);
    *facts = node->facts;
    return true;
}

void MessageCache::Add(const Text& path, int form, const platform::FileStamp& stamp,
                       const MessageFacts& learned) {
    std::string key = KeyOf(path, form);
    Shard& shard = ShardOf(key);
    std::lock_guard<std::mutex> hold(shard.lock);
    if (shard.limit == 0)
        return;
    auto found = shard.nodes.find(key);
    if (found == shard.nodes.end()) {
        shard.order.emplace_front();
        shard.order.front().key = key;
        found = shard.nodes.emplace(std::move(key), shard.order.begin()).first;
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

uint64_t MessageCache::Count() const {
    uint64_t total = 0;
    for (int i = 0; i < kShards; ++i) {
        std::lock_guard<std::mutex> hold(shards_[i].lock);
        total += shards_[i].nodes.size();
    }
    return total;
}
