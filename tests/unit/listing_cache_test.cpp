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

// A list of the given lines read from text, each naming its first 8 bytes.
std::shared_ptr<Listing> ListingOf(const std::string& text, int lines) {
    auto listing = std::make_shared<Listing>();
    listing->text = BytesOf(text);
    for (int i = 0; i < lines; ++i)
        listing->Add(listing->text->data.get(), 8, static_cast<uint32_t>(i + 1), 0, 0);
    return listing;
}

TEST(ListingCacheTest, FoundUnderTheSameBytesOnlyAndBounded) {
    const std::string text(1000, 'x');
    auto listing = ListingOf(text, 10);
    const uint64_t one = listing->Bytes();
    ListingCache cache(one * 2);
    cache.Add("a", listing);
    EXPECT_EQ(cache.Find("a", *BytesOf(text)), listing);
    EXPECT_EQ(cache.Find("b", *BytesOf(text)), nullptr);
    std::string changed = text;
    changed[999] = 'y';
    EXPECT_EQ(cache.Find("a", *BytesOf(changed)), nullptr);
    EXPECT_EQ(cache.Find("a", *BytesOf(text + "x")), nullptr);

    // "a" used after "b" was added: "b" goes first when "c" comes.
    cache.Add("b", ListingOf(text, 10));
    EXPECT_NE(cache.Find("a", *BytesOf(text)), nullptr);
    cache.Add("c", ListingOf(text, 10));
    EXPECT_LE(cache.Bytes(), one * 2);
    EXPECT_NE(cache.Find("a", *BytesOf(text)), nullptr);
    EXPECT_EQ(cache.Find("b", *BytesOf(text)), nullptr);
    EXPECT_NE(cache.Find("c", *BytesOf(text)), nullptr);

    // A newer reading replaces the older; one larger than the bound is not kept.
    cache.Add("a", ListingOf(changed, 10));
    EXPECT_EQ(cache.Find("a", *BytesOf(text)), nullptr);
    EXPECT_NE(cache.Find("a", *BytesOf(changed)), nullptr);
    cache.Add("d", ListingOf(std::string(one * 3, 'z'), 1));
    EXPECT_EQ(cache.Find("d", *BytesOf(std::string(one * 3, 'z'))), nullptr);
    cache.SetLimit(0);
    EXPECT_EQ(cache.Bytes(), 0u);
}

}  // namespace
