// Tests of the shared folder lists: found only under the same bytes, and bounded with the least
// recently used dropped first.
#include "store/listing_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

std::shared_ptr<FileBytes> BytesOf(const std::string& text) {
    auto bytes = std::make_shared<FileBytes>();
    bytes->data.reset(new char[text.size()]);
    std::memcpy(bytes->data.get(), text.data(), text.size());
    bytes->size = text.size();
    return bytes;
}

std::shared_ptr<Listing> ListingOf(int lines) {
    auto listing = std::make_shared<Listing>();
    for (int i = 0; i < lines; ++i)
        listing->Add("AAAA0001", 8, static_cast<uint32_t>(i + 1), 0, 0);
    return listing;
}

TEST(ListingCacheTest, FoundUnderTheSameBytesOnlyAndBounded) {
    const std::string text(1000, 'x');
    auto listing = ListingOf(10);
    const uint64_t one = text.size() + listing->Bytes();
    ListingCache cache(one * 2);
    cache.Add("a", BytesOf(text), listing);
    EXPECT_EQ(cache.Find("a", *BytesOf(text)), listing);
    EXPECT_EQ(cache.Find("b", *BytesOf(text)), nullptr);
    std::string changed = text;
    changed[999] = 'y';
    EXPECT_EQ(cache.Find("a", *BytesOf(changed)), nullptr);
    EXPECT_EQ(cache.Find("a", *BytesOf(text + "x")), nullptr);

    // "a" used after "b" was added: "b" goes first when "c" comes.
    cache.Add("b", BytesOf(text), ListingOf(10));
    EXPECT_NE(cache.Find("a", *BytesOf(text)), nullptr);
    cache.Add("c", BytesOf(text), ListingOf(10));
    EXPECT_LE(cache.Bytes(), one * 2);
    EXPECT_NE(cache.Find("a", *BytesOf(text)), nullptr);
    EXPECT_EQ(cache.Find("b", *BytesOf(text)), nullptr);
    EXPECT_NE(cache.Find("c", *BytesOf(text)), nullptr);

    // A newer reading replaces the older; one larger than the bound is not kept.
    cache.Add("a", BytesOf(changed), ListingOf(10));
    EXPECT_EQ(cache.Find("a", *BytesOf(text)), nullptr);
    EXPECT_NE(cache.Find("a", *BytesOf(changed)), nullptr);
    cache.Add("d", BytesOf(std::string(one * 3, 'z')), ListingOf(1));
    EXPECT_EQ(cache.Find("d", *BytesOf(std::string(one * 3, 'z'))), nullptr);
    cache.SetLimit(0);
    EXPECT_EQ(cache.Bytes(), 0u);
}

}  // namespace
