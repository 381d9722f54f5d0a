#include "platform/stamp_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

using platform::FileStamp;
using platform::StampTable;

namespace {

FileStamp StampNumbered(int64_t n) {
    FileStamp s;
    s.size = n;
    s.writeTime = n * 7;
    s.file = static_cast<uint64_t>(n) + 1;
    return s;
}

// A long run of puts, replacements and erasures over names that share long runs of the table
// (a few thousand folder-like names), checked at every step against a plain map: erasing in
// the middle of a run must leave every other name reachable, through growth as well.
TEST(StampTableTest, AgreesWithAMapThroughPutsErasuresAndGrowth) {
    StampTable table;
    std::map<std::string, int64_t> model;
    std::mt19937 random(7);
    for (int step = 0; step < 60000; ++step) {
        char name[32];
        const int length = std::snprintf(name, sizeof name, "AAAA%04u.orv",
                                         static_cast<unsigned>(random() % 3000));
        const int what = static_cast<int>(random() % 3);
        if (what == 0) {
            EXPECT_EQ(table.Erase(name, static_cast<size_t>(length)), model.erase(name) == 1);
        } else {
            const int result = table.Put(name, static_cast<size_t>(length), StampNumbered(step));
            EXPECT_EQ(result, model.count(name) == 0 ? 1 : 0) << name;
            model[name] = step;
        }
        ASSERT_EQ(table.Size(), model.size()) << "step " << step;
        if (step % 1000 == 999) {
            for (unsigned n = 0; n < 3000; ++n) {
                const int k = std::snprintf(name, sizeof name, "AAAA%04u.orv", n);
                FileStamp got;
                const auto kept = model.find(name);
                ASSERT_EQ(table.Find(name, static_cast<size_t>(k), &got), kept != model.end())
                    << name << " at step " << step;
                if (kept != model.end()) {
                    EXPECT_EQ(got, StampNumbered(kept->second)) << name;
                }
            }
        }
    }
    table.Clear();
    FileStamp got;
    EXPECT_EQ(table.Size(), 0u);
    EXPECT_FALSE(table.Find("AAAA0001.orv", 12, &got));

    const std::string longest(StampTable::kLongest, 'x');
    EXPECT_EQ(table.Put(longest.c_str(), longest.size(), StampNumbered(1)), 1);
    EXPECT_EQ(table.Put((longest + "x").c_str(), longest.size() + 1, StampNumbered(1)), -1);
    EXPECT_EQ(table.Put("", 0, StampNumbered(1)), -1);
    EXPECT_FALSE(table.Find((longest + "x").c_str(), longest.size() + 1, &got));
    EXPECT_TRUE(table.Find(longest.c_str(), longest.size(), &got));
}

}  // namespace
