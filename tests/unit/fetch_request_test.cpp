// The FETCH item list read once: macro expansion, the UID item of the UID form, items left out,
// sections read apart, what each message must load, and how often the host is asked to mark.
#include "render/fetch_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(const FetchRequest& r) {
    std::vector<std::string> names;
    for (const FetchItem& item : r.items())
        names.push_back(item.name.c_str());
    return names;
}

TEST(FetchRequestTest, ItemsInOrderWithMacrosExpandedAndUidFirst) {
    const FetchRequest all(Text("uid all BOGUS flags"), 1, Mode::kExact);
    EXPECT_EQ(Names(all), (std::vector<std::string>{"UID", "FLAGS", "INTERNALDATE", "RFC822.SIZE",
                                                    "ENVELOPE", "flags"}));
    EXPECT_TRUE(all.NeedsSize() && all.NeedsEnvelope() && all.NeedsFileTime());
    EXPECT_FALSE(all.NeedsHeaderText() || all.NeedsBodyText() || all.NeedsMimeStructure());
    // Without the UID form an explicit UID is an item like any other.
    EXPECT_EQ(Names(FetchRequest(Text("FAST uid"), 0, Mode::kExact)),
              (std::vector<std::string>{"FLAGS", "INTERNALDATE", "RFC822.SIZE", "uid"}));

    // FULL's BODY is the whole message in the exact mode, the structure in the extended one.
    const FetchRequest exact(Text("FULL"), 0, Mode::kExact);
    EXPECT_EQ(exact.items().back().kind, ItemKind::kSection);
    EXPECT_TRUE(exact.NeedsHeaderText() && exact.NeedsBodyText());
    const FetchRequest extended(Text("FULL"), 0, Mode::kExtended);
    EXPECT_EQ(extended.items().back().kind, ItemKind::kBodyStructure);
    EXPECT_TRUE(extended.NeedsWholeMessage());
}

TEST(FetchRequestTest, SectionsAreReadOnce) {
    const FetchRequest r(Text("BODY.PEEK[HEADER.FIELDS.NOT (From  To)]<5.10> body[2.MIME]"), 0,
                         Mode::kExact);
    ASSERT_EQ(r.items().size(), 2u);
    const FetchItem& header = r.items()[0];
    EXPECT_STREQ(header.itemName.c_str(), "BODY");
    EXPECT_TRUE(header.peek);
    EXPECT_EQ(header.sectionKind, SectionKind::kHeader);
    EXPECT_TRUE(header.exclude);
    ASSERT_EQ(header.fieldNames.Count(), 2);
    EXPECT_STREQ(header.fieldNames.At(1)->c_str(), "To");
    EXPECT_TRUE(header.hasPartial);
    EXPECT_EQ(header.origin, 5u);
    EXPECT_EQ(header.count, 10u);
    // A part number is echoed in the exact mode, cut from the message in the extended one.
    EXPECT_EQ(r.items()[1].sectionKind, SectionKind::kEcho);
    EXPECT_FALSE(r.NeedsBodyText());
    const FetchRequest part(Text("BODY[2.MIME]<1.2>"), 0, Mode::kExtended);
    EXPECT_EQ(part.items()[0].kind, ItemKind::kPartSection);
    EXPECT_STREQ(part.items()[0].section.c_str(), "2.MIME");
    EXPECT_EQ(part.items()[0].count, 2u);
}

TEST(FetchRequestTest, SeenMarksFollowTheItems) {
    const struct {
        const char* items;
        Mode mode;
        int fresh;   // header not loaded before
        int loaded;  // header loaded before
    } cases[] = {
        {"RFC822 RFC822.HEADER BODY.PEEK[] BODY[1] ENVELOPE", Mode::kExact, 0, 0},
        {"RFC822.SIZE RFC822.TEXT BODY[TEXT]", Mode::kExact, 3, 3},
        {"BODY[HEADER]", Mode::kExact, 2, 1},
        {"BODY[HEADER] BODY[HEADER.FIELDS (From)]", Mode::kExact, 3, 2},
        {"RFC822.HEADER BODY[HEADER]", Mode::kExact, 1, 1},
        {"BODY.PEEK[HEADER] BODY[HEADER]", Mode::kExact, 1, 1},
        {"BODY BODY[]<0.1>", Mode::kExact, 2, 2},
        {"FULL", Mode::kExact, 2, 2},
        {"BODY[1] BODY.PEEK[2] BODYSTRUCTURE BODY[HEADER]", Mode::kExtended, 2, 2},
    };
    for (const auto& c : cases) {
        const FetchRequest r(Text(c.items), 0, c.mode);
        EXPECT_EQ(r.SeenMarks(false), c.fresh) << c.items;
        EXPECT_EQ(r.SeenMarks(true), c.loaded) << c.items;
    }
}

}  // namespace
