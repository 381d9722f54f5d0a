// FakeHost: the host of the unit tests, a HostPort that reports a mailbox directory (a test's
// scratch directory, or "" as an unbound host does) and records every import, mark and delete
// asked of it, in order. Calls may come from several threads at once.
#ifndef ORV_TESTS_UNIT_FAKE_HOST_H_
#define ORV_TESTS_UNIT_FAKE_HOST_H_

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "store/host_port.h"

class FakeHost : public HostPort {
  public:
    struct Import {
        std::string file;
        std::string folder;
        uint32_t status;
        bool operator==(const Import& o) const {
            return std::tie(file, folder, status) == std::tie(o.file, o.folder, o.status);
        }
    };
    struct Mark {
        std::string key;
        uint32_t mask;
        int value;
        bool operator==(const Mark& o) const {
            return std::tie(key, mask, value) == std::tie(o.key, o.mask, o.value);
        }
    };

    explicit FakeHost(std::string mailboxDirectory = "")
        : directory_(std::move(mailboxDirectory)) {}

    // The directory MailboxDirectory reports from now on (with its trailing "/").
    void SetMailboxDirectory(const std::string& directory) {
        std::lock_guard<std::mutex> hold(lock_);
        directory_ = directory;
    }
    const std::string& Directory() const { return directory_; }

    const char* MailboxDirectory() override {
        std::lock_guard<std::mutex> hold(lock_);
        return directory_.c_str();
    }
    void ImportFile(const char* file, const char* folder, uint32_t status) override {
        std::lock_guard<std::mutex> hold(lock_);
        imports_.push_back({file, folder, status});
    }
    void MarkMail(const char* key, uint32_t mask, int value) override {
        std::lock_guard<std::mutex> hold(lock_);
        marks_.push_back({key, mask, value});
    }
    void DeleteMail(const char* key) override {
        std::lock_guard<std::mutex> hold(lock_);
        deletes_.push_back(key);
    }

    // What was asked so far, in order.
    std::vector<Import> Imports() const {
        std::lock_guard<std::mutex> hold(lock_);
        return imports_;
    }
    std::vector<Mark> Marks() const {
        std::lock_guard<std::mutex> hold(lock_);
        return marks_;
    }
    std::vector<std::string> Deletes() const {
        std::lock_guard<std::mutex> hold(lock_);
        return deletes_;
    }
    // Forgets the calls recorded so far (the directory stays).
    void ClearCalls() {
        std::lock_guard<std::mutex> hold(lock_);
        imports_.clear();
        marks_.clear();
        deletes_.clear();
    }

  private:
    mutable std::mutex lock_;
    std::string directory_;
    std::vector<Import> imports_;
    std::vector<Mark> marks_;
    std::vector<std::string> deletes_;
};

// How GoogleTest shows the records in a failed expectation.
inline std::ostream& operator<<(std::ostream& out, const FakeHost::Import& i) {
    return out << "{" << i.file << ", " << i.folder << ", " << i.status << "}";
}
inline std::ostream& operator<<(std::ostream& out, const FakeHost::Mark& m) {
    return out << "{" << m.key << ", " << m.mask << ", " << m.value << "}";
}

#endif  // ORV_TESTS_UNIT_FAKE_HOST_H_
