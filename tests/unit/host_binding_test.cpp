// Tests of the host binding: the 34 decorated names in binding order, and the HostPort over the
// table, whose four calls reach the host functions of their names with their arguments as they
// are and do nothing (the directory "") through an unbound table.
#include "shell/host_binding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// What the stand-in host functions were called with, in order.
std::vector<std::string> gCalls;
const char* gMailbox = "/mail/";

const char* ORV_HOSTCALL FakeGetMailbox() {
    gCalls.push_back("GetMailbox");
    return gMailbox;
}
int ORV_HOSTCALL FakeImportFile(const char* file, const char* folder, uint32_t status) {
    gCalls.push_back(std::string("ImportFile ") + file + " " + folder + " " +
                     std::to_string(status));
    return 1;
}
int ORV_HOSTCALL FakeMarkMail(const char* key, uint32_t mask, int value) {
    gCalls.push_back(std::string("MarkMail ") + key + " " + std::to_string(mask) + " " +
                     std::to_string(value));
    return 1;
}
int ORV_HOSTCALL FakeDeleteMail(const char* key) {
    gCalls.push_back(std::string("DeleteMail ") + key);
    return 1;
}

// Binds the four functions the server calls under their names; every other slot stays empty.
void BindFakes() {
    void* functions[kHostFunctionCount] = {};
    for (int i = 0; i < kHostFunctionCount; ++i) {
        const std::string name = kHostFunctionNames[i];
        if (name == "_OPAGetMailbox@0")
            functions[i] = reinterpret_cast<void*>(&FakeGetMailbox);
        else if (name == "_OPAImportFile@12")
            functions[i] = reinterpret_cast<void*>(&FakeImportFile);
        else if (name == "_OPAMarkMail@12")
            functions[i] = reinterpret_cast<void*>(&FakeMarkMail);
        else if (name == "_OPADeleteMail@4")
            functions[i] = reinterpret_cast<void*>(&FakeDeleteMail);
    }
    BindHostApiFrom(nullptr, functions);
}

void Unbind() {
    void* none[kHostFunctionCount] = {};
    BindHostApiFrom(nullptr, none);
}

class HostBindingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gCalls.clear();
        gMailbox = "/mail/";
    }
    void TearDown() override { Unbind(); }
};

TEST_F(HostBindingTest, EachCallReachesTheFunctionOfItsName) {
    BindFakes();
    HostPort& host = BoundHost();
    EXPECT_STREQ(host.MailboxDirectory(), "/mail/");
    host.ImportFile("/tmp/imp1.tmp", "user\\inbox.box", 0x40000000);
    host.MarkMail("user\\inbox.box\\AAAA0001", 0x20000000, 1);
    host.DeleteMail("user\\work.box\\AAAA0002");
    EXPECT_EQ(gCalls, (std::vector<std::string>{
                          "GetMailbox", "ImportFile /tmp/imp1.tmp user\\inbox.box 1073741824",
                          "MarkMail user\\inbox.box\\AAAA0001 536870912 1",
                          "DeleteMail user\\work.box\\AAAA0002"}));
    // The host is asked every time; nothing is kept.
    gMailbox = "/other/";
    EXPECT_STREQ(host.MailboxDirectory(), "/other/");
    EXPECT_EQ(gCalls.size(), 5u);
    // A host that answers null has the directory "".
    gMailbox = nullptr;
    EXPECT_STREQ(host.MailboxDirectory(), "");
    EXPECT_EQ(&BoundHost(), &host) << "one binding for the process";
    // Unbound, every call does nothing and the directory is "".
    Unbind();
    gCalls.clear();
    EXPECT_STREQ(host.MailboxDirectory(), "");
    host.ImportFile("/tmp/imp1.tmp", "user\\inbox.box", 0x40000000);
    host.DeleteMail("user\\inbox.box\\AAAA0001");
    EXPECT_TRUE(gCalls.empty());
}

}  // namespace
