#include "host/store_format.h"

#include <cstdio>

#include "mime/base64.h"

namespace {

constexpr size_t kRecordSize = 12;

int LetterValue(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    return -1;
}

void AppendWord(std::string* out, uint32_t word) {
    for (int i = 0; i < 4; ++i)
        out->push_back(static_cast<char>((word >> (8 * i)) & 0xFF));
}

}  // namespace

bool UidOfName(const std::string& name, uint64_t* uid) {
    if (name.size() < 4)
        return false;
    uint64_t letters = 0;
    for (size_t i = 0; i < 4; ++i) {
        const int v = LetterValue(name[i]);
        if (v < 0)
            return false;
        letters = letters * 26 + static_cast<uint64_t>(v);
    }
    uint64_t number = 0;
    for (size_t i = 4; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
        number = number * 10 + static_cast<uint64_t>(name[i] - '0');
        if (number > kLargestUid)
            return false;
    }
    *uid = letters * 10000 + number;
    return true;
}

std::string NameOfUid(uint64_t uid) {
    if (uid > kLargestUid)
        return std::string();
    uint64_t letters = uid / 10000;
    char name[9];
    for (int i = 3; i >= 0; --i) {
        name[i] = static_cast<char>('A' + letters % 26);
        letters /= 26;
    }
    std::snprintf(name + 4, 5, "%04u", static_cast<unsigned>(uid % 10000));
    return std::string(name, 8);
}

std::string StatusLine(uint32_t status) {
    char line[32];
    std::snprintf(line, sizeof line, "X-Orvex-Status: %08X\r\n", status);
    return line;
}

std::string WithCrLf(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 32);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            out.push_back('\r');
        out.push_back(bytes[i]);
    }
    return out;
}

std::string Base64Encode(const std::string& bytes) {
    std::string out(Base64EncodedLength(bytes.size()), '\0');
    if (!out.empty())
        Base64EncodeTo(bytes.data(), bytes.size(), &out[0]);
    return out;
}

std::string Base64Decode(const std::string& text) {
    std::string out;
    Base64DecodeAppend(text.data(), text.size(), Base64Stray::kStop, &out);
    return out;
}

std::string IndexRecord(uint32_t status, uint32_t size, uint32_t time) {
    std::string record;
    AppendWord(&record, status);
    AppendWord(&record, size);
    AppendWord(&record, time);
    return record;
}

uint32_t RecordStatus(const std::string& record) {
    uint32_t status = 0;
    for (size_t i = 0; i < 4 && i < record.size(); ++i)
        status |= static_cast<uint32_t>(static_cast<unsigned char>(record[i])) << (8 * i);
    return status;
}

std::string WithRecordStatus(const std::string& record, uint32_t status) {
    std::string out = record;
    if (out.size() < kRecordSize)
        out.resize(kRecordSize, '\0');
    for (size_t i = 0; i < 4; ++i)
        out[i] = static_cast<char>((status >> (8 * i)) & 0xFF);
    return out;
}
