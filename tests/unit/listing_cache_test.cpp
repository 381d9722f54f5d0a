// Tests of the shared folder lists: found only while the file holds the same bytes, and
// bounded with the least recently used dropped first.
#include "store/listing_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;

// A list of the given lines read from text, each naming its first 8 bytes.
std::shared_ptr<Listing> ListingOf(const std::string& text, int lines) {
    auto listing = std::make_shared<Listing>();
    listing->text = std::make_shared<const std::string>(text);
    for (int i = 0; i < lines; ++i)
        listing->Add(listing->text->data(), 8, static_cast<uint32_t>(i + 1), 0, 0);
    return listing;
}

class ListingCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = (fs::temp_directory_path() /
                 ("orv_listing_" + std::to_string(stamp) + "_" + std::to_string(++serial_)))
                    .string();
    }
    void TearDown() override { std::remove(path_.c_str()); }

    // What the cache finds for key while the file holds text.
    std::shared_ptr<const Listing> FindWith(ListingCache& cache, const std::string& key,
                                            const std::string& text, uint64_t changes = 0) {
        {
            std::ofstream f(path_, std::ios::binary | std::ios::trunc);
            f << text;
        }
        File file;
        EXPECT_TRUE(file.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting));
        return cache.Find(key, file, changes);
    }

    std::string path_;
    static int serial_;
};

int ListingCacheTest::serial_ = 0;

TEST_F(ListingCacheTest, FoundUnderTheSameBytesOnlyAndBounded) {
    // Longer than one piece of the comparison, and differing only at the end.
    const std::string text(200000, 'x');
    std::string changed = text;
    changed.back() = 'y';
    auto listing = ListingOf(text, 10);
    const uint64_t one = listing->Bytes();
    ListingCache cache(one * 2);
    cache.Add("a", listing);
    EXPECT_EQ(FindWith(cache, "a", text), listing);
    EXPECT_EQ(FindWith(cache, "b", text), nullptr);
    EXPECT_EQ(FindWith(cache, "a", changed), nullptr);
    EXPECT_EQ(FindWith(cache, "a", text + "x"), nullptr);
    EXPECT_EQ(FindWith(cache, "a", text.substr(1)), nullptr);

    // "a" used after "b" was added: "b" goes first when "c" comes.
    cache.Add("b", ListingOf(text, 10));
    EXPECT_NE(FindWith(cache, "a", text), nullptr);
    cache.Add("c", ListingOf(text, 10));
    EXPECT_LE(cache.Bytes(), one * 2);
    EXPECT_NE(FindWith(cache, "a", text), nullptr);
    EXPECT_EQ(FindWith(cache, "b", text), nullptr);
    EXPECT_NE(FindWith(cache, "c", text), nullptr);

    // A newer reading replaces the older; one larger than the bound is not kept.
    cache.Add("a", ListingOf(changed, 10));
    EXPECT_EQ(FindWith(cache, "a", text), nullptr);
    EXPECT_NE(FindWith(cache, "a", changed), nullptr);
    const std::string huge(one * 3, 'z');
    cache.Add("d", ListingOf(huge, 1));
    EXPECT_EQ(FindWith(cache, "d", huge), nullptr);
    cache.SetLimit(0);
    EXPECT_EQ(cache.Bytes(), 0u);
}

// Under the folder's change count the bytes were read or found equal under, the list is given
// without reading the file; under another count (0: none) the bytes decide again.
TEST_F(ListingCacheTest, ChangeCountSparesTheComparisonUntilItMoves) {
    const std::string text(1000, 'x'), changed(1000, 'y');
    ListingCache cache;
    auto listing = ListingOf(text, 3);
    cache.Add("a", listing, 7);
    EXPECT_EQ(FindWith(cache, "a", changed, 7), listing);
    EXPECT_EQ(FindWith(cache, "a", changed, 8), nullptr);
    EXPECT_EQ(FindWith(cache, "a", changed, 0), nullptr);
    EXPECT_EQ(FindWith(cache, "a", text, 9), listing);
    EXPECT_EQ(FindWith(cache, "a", changed, 9), listing) << "found equal under 9";
}

}  // namespace
