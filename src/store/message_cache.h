// MessageCache: what the server has learned about message files (the size of a client form,
// the ENVELOPE and BODYSTRUCTURE values), kept for the whole life of the process and shared by
// every connection, so a new session does not parse again what an earlier one parsed.
//
// Each fact belongs to one version of one file in one client form: it is stored with the file's
// stamp (size, last-write time, identity) and found only under the same stamp, so a file the
// host rewrote or replaced is never answered from old facts. The cache is bounded in bytes;
// files not used since the last sweep go first (a clock over each shard's files, so a lookup
// moves nothing). It is split into shards, each with its own lock, so connections on other
// messages never wait for each other; a shard is one flat table, so a lookup touches a slot, a
// file's fixed part and its bytes, and no lists or nodes.
#ifndef ORV_STORE_MESSAGE_CACHE_H_
#define ORV_STORE_MESSAGE_CACHE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/files.h"

// What is known of one message file in one client form; an empty field is not known.
struct MessageFacts {
    uint32_t clientSize = 0;  // the client form's byte count
    Text envelope;            // the ENVELOPE value after the name
    Text structure;           // the exact mode's BODYSTRUCTURE value after the name
};

class MessageCache {
  public:
    // The bound when no setting gives one.
    static constexpr uint64_t kDefaultLimit = 64u << 20;

    explicit MessageCache(uint64_t limit = kDefaultLimit);
    ~MessageCache();
    MessageCache(const MessageCache&) = delete;
    MessageCache& operator=(const MessageCache&) = delete;

    // The process's cache, which every connection uses.
    static MessageCache& Shared();

    // Sets the bound in bytes (0: nothing is kept) and drops what no longer fits.
    void SetLimit(uint64_t bytes);

    // Which fields Find copies.
    enum Wanted { kSize = 1, kEnvelope = 2, kStructure = 4, kAll = 7 };

    // Copies into *facts the wanted fields known of the file at path in the client form form (a
    // small number naming the form) under exactly this stamp; facts of another stamp are
    // dropped. False when nothing is known.
    bool Find(const Text& path, int form, const platform::FileStamp& stamp, MessageFacts* facts,
              int wanted = kAll);
    // Adds the known fields of learned to what is kept for the file, form and stamp (replacing
    // facts of another stamp).
    void Add(const Text& path, int form, const platform::FileStamp& stamp,
             const MessageFacts& learned);
    // The same from bytes (a folder's file read back): path and the texts as pointer and
    // length, an empty text not known.
    void Add(const char* path, int pathLength, int form, const platform::FileStamp& stamp,
             uint32_t clientSize, const char* envelope, int envelopeLength, const char* structure,
             int structureLength);

    // The bytes counted against the bound, and the files known.
    uint64_t Bytes() const;
    uint64_t Count() const;

    // What is known of one file, as the folder's own file keeps it (store/folder_facts.h).
    struct Record {
        std::string name;  // the file name within its directory
        int form = 0;
        platform::FileStamp stamp;
        MessageFacts facts;
    };
    // Appends a record for every file of the directory (its path, ending with a separator)
    // whose facts are kept.
    void Collect(const Text& directory, std::vector<Record>* out) const;

  private:
    struct Shard;

    static constexpr int kShards = 16;
    std::unique_ptr<Shard[]> shards_;
};

#endif  // ORV_STORE_MESSAGE_CACHE_H_
