// Tests of the cache of what the server learned about message files: facts hold for one stamp
// and one client form only, later facts join earlier ones, the bound holds with files not
// used lately going first, and connections may use it at once.
#include "store/message_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

platform::FileStamp Stamp(int64_t size, int64_t time, uint64_t file = 7) {
    platform::FileStamp s;
    s.size = size;
    s.writeTime = time;
    s.volume = 1;
    s.file = file;
    return s;
}

Text Path(int i) {
    Text path("/mail/user1/inbox.box/AAAA");
    path.AppendNumber(static_cast<uint32_t>(i));
    path.Append(".orv");
    return path;
}

MessageFacts Envelope(const char* value) {
    MessageFacts f;
    f.envelope = value;
    return f;
}

TEST(MessageCacheTest, FactsHoldForOneStampAndOneForm) {
    MessageCache cache;
    const Text path = Path(1);
    MessageFacts size;
    size.clientSize = 120;
    cache.Add(path, 0, Stamp(100, 5), size);
    cache.Add(path, 0, Stamp(100, 5), Envelope("(NIL \"one\")"));

    MessageFacts found;
    ASSERT_TRUE(cache.Find(path, 0, Stamp(100, 5), &found));
    EXPECT_EQ(found.clientSize, 120u);
    EXPECT_STREQ(found.envelope.c_str(), "(NIL \"one\")");
    EXPECT_TRUE(found.structure.IsEmpty());
    // Another client form of the same file is another set of facts.
    EXPECT_FALSE(cache.Find(path, 1, Stamp(100, 5), &found));

    // The file rewritten (same size, later time), or replaced by another file under its name:
    // nothing of the old one is served, and it is forgotten.
    for (const platform::FileStamp& other : {Stamp(100, 6), Stamp(100, 5, 8), Stamp(101, 5)}) {
        cache.Add(path, 0, Stamp(100, 5), Envelope("(NIL \"one\")"));
        EXPECT_FALSE(cache.Find(path, 0, other, &found));
        EXPECT_FALSE(cache.Find(path, 0, Stamp(100, 5), &found));
    }
    // Facts of a new stamp replace those of the old one rather than join them.
    cache.Add(path, 0, Stamp(100, 5), size);
    cache.Add(path, 0, Stamp(200, 9), Envelope("(NIL \"two\")"));
    ASSERT_TRUE(cache.Find(path, 0, Stamp(200, 9), &found));
    EXPECT_EQ(found.clientSize, 0u);
    EXPECT_STREQ(found.envelope.c_str(), "(NIL \"two\")");
    EXPECT_EQ(cache.Count(), 1u);
}

TEST(MessageCacheTest, BoundHoldsAndRecentlyUsedFilesStay) {
    const uint64_t limit = 64u << 10;
    MessageCache cache(limit);
    const std::string value(300, 'x');
    MessageFacts found;
    // A folder much larger than the cache, with one message read again and again.
    for (int i = 0; i < 5000; ++i) {
        cache.Add(Path(i), 0, Stamp(i, i), Envelope(value.c_str()));
        EXPECT_LE(cache.Bytes(), limit);
        if (i > 0 && i % 10 == 0) {
            EXPECT_TRUE(cache.Find(Path(0), 0, Stamp(0, 0), &found)) << i;
        }
    }
    EXPECT_GT(cache.Count(), 50u);
    EXPECT_LT(cache.Count(), 500u);
    EXPECT_TRUE(cache.Find(Path(4999), 0, Stamp(4999, 4999), &found));
    EXPECT_FALSE(cache.Find(Path(1), 0, Stamp(1, 1), &found));
    // Files dropped from the middle of the table leave every kept one reachable, with its own
    // facts.
    uint64_t reachable = 0;
    for (int i = 0; i < 5000; ++i) {
        if (cache.Find(Path(i), 0, Stamp(i, i), &found)) {
            ++reachable;
            EXPECT_EQ(found.envelope.c_str(), value) << i;
        }
    }
    EXPECT_EQ(reachable, cache.Count());

    // A lower bound drops what no longer fits; 0 keeps nothing at all.
    cache.SetLimit(limit / 4);
    EXPECT_LE(cache.Bytes(), limit / 4);
    cache.SetLimit(0);
    EXPECT_EQ(cache.Count(), 0u);
    cache.Add(Path(1), 0, Stamp(1, 1), Envelope("(NIL)"));
    EXPECT_EQ(cache.Bytes(), 0u);
}

TEST(MessageCacheTest, ConnectionsUseItAtOnce) {
    const uint64_t limit = 256u << 10;
    MessageCache cache(limit);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&cache, t] {
            MessageFacts found;
            for (int i = 0; i < 3000; ++i) {
                const int file = (i * 7 + t) % 400;
                // Two connections see each file at two stamps now and then.
                const int64_t time = (i / 500 + t) % 2;
                if (!cache.Find(Path(file), 0, Stamp(file, time), &found)) {
                    MessageFacts learned = Envelope("(NIL \"value\")");
                    learned.clientSize = static_cast<uint32_t>(file + 1);
                    cache.Add(Path(file), 0, Stamp(file, time), learned);
                } else {
                    EXPECT_EQ(found.clientSize, static_cast<uint32_t>(file + 1));
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_LE(cache.Bytes(), limit);
    EXPECT_LE(cache.Count(), 400u);
}

}  // namespace
