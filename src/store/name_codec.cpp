// Modified UTF-7 for mailbox names: a run of non-ASCII characters becomes its UTF-16 form in
// big-endian order, base64-encoded with "," for "/" and no padding, between "&" and "-"; "&"
// itself is written "&-". Decoding is lenient: a missing "-" ends the run at the end of the
// name, an odd byte becomes a unit of its own, and a 0 unit ends the run's text.
#include "store/name_codec.h"

#include <cstddef>
#include <vector>

#include "mime/base64.h"
#include "platform/codepage.h"

NameCodec::~NameCodec() {
    delete[] wide_;
    delete[] narrow_;
}

int NameCodec::ToWide(const char* bytes, int n) {
    delete[] wide_;
    wide_ = nullptr;
    if (bytes == nullptr || n < 0)
        n = 0;
    const int units = n > 0 ? platform::MultiByteToWideChar(bytes, n, nullptr, 0) : 0;
    wide_ = new char16_t[units + 1];
    const int done = units > 0 ? platform::MultiByteToWideChar(bytes, n, wide_, units) : 0;
    wide_[done] = 0;
    return done;
}

const char* NameCodec::ToNarrow(const char16_t* units, bool* usedDefault) {
    static const char16_t kEmpty[1] = {0};
    if (units == nullptr)
        units = kEmpty;
    delete[] narrow_;
    const int size = platform::WideCharToMultiByte(units, -1, nullptr, 0);  // NUL included
    narrow_ = new char[size + 1];
    const int done = platform::WideCharToMultiByte(units, -1, narrow_, size + 1, usedDefault);
    narrow_[done > 0 ? done - 1 : 0] = 0;
    return narrow_;
}

namespace {

// Appends "&", the modified base64 of the UTF-16 form of n local code page bytes, and "-".
void AppendEncodedRun(Text* out, const char* run, int n) {
    NameCodec codec;
    const int units = codec.ToWide(run, n);
    if (units == 0)
        return;
    std::vector<unsigned char> bigEndian;
    bigEndian.reserve(static_cast<size_t>(units) * 2);
    for (int i = 0; i < units; ++i) {
        bigEndian.push_back(static_cast<unsigned char>(codec.Wide()[i] >> 8));
        bigEndian.push_back(static_cast<unsigned char>(codec.Wide()[i] & 0xFF));
    }
    Base64Codec base64(Base64Codec::kMailboxName);
    out->Append('&');
    out->Append(base64.Encode(bigEndian.data(), bigEndian.size()));
    out->Append('-');
}

// Appends the local code page form of the base64 text between "&" and "-". Returns false when
// a character of it has no code in the code page.
bool AppendDecodedRun(Text* out, const Text& encoded) {
    Base64Codec base64(Base64Codec::kMailboxName);
    size_t m = 0;
    const unsigned char* bytes = base64.Decode(encoded.c_str(), &m);
    std::vector<char16_t> units;
    units.reserve(m / 2 + 2);
    for (size_t i = 0; i + 1 < m; i += 2)
        units.push_back(static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]));
    if (m % 2 != 0)
        units.push_back(bytes[m - 1]);
    units.push_back(0);
    NameCodec codec;
    bool usedDefault = false;
    out->Append(codec.ToNarrow(units.data(), &usedDefault));
    return !usedDefault;
}

}  // namespace

Text EncodeName(const Text& name) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(name.c_str());
    const int n = name.Length();
    Text out("");
    int i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            out.Append(static_cast<char>(s[i]));
            if (s[i] == '&')
                out.Append('-');
            ++i;
            continue;
        }
        // A run is every following character whose first byte is 0x80 or above: a lead byte
        // with the byte after it (whatever that byte is), or one single byte.
        const int start = i;
        while (i < n && s[i] >= 0x80)
            i += (platform::IsLeadByte(s[i]) && i + 1 < n) ? 2 : 1;
        AppendEncodedRun(&out, name.c_str() + start, i - start);
    }
    return out;
}

Text EncodeNamePath(const Text& path) {
    Text rest(path);
    Text out("");
    while (!rest.IsEmpty()) {
        out.Append(EncodeName(rest.SplitToken('/')));
        if (!rest.IsEmpty())
            out.Append('/');
    }
    return out;
}

bool DecodeName(const Text& name, Text* out) {
    const char* s = name.c_str();
    const int n = name.Length();
    out->Assign("");
    int i = 0;
    while (i < n) {
        if (s[i] != '&') {
            out->Append(s[i]);
            ++i;
            continue;
        }
        if (i + 1 >= n)
            break;  // a lone "&" at the end stands for nothing
        if (s[i + 1] == '-') {
            out->Append('&');
            i += 2;
            continue;
        }
        int end = i + 1;
        while (end < n && s[end] != '-')
            ++end;
        if (!AppendDecodedRun(out, name.Mid(i + 1, end - i - 1))) {
            out->Assign("");
            return false;
        }
        i = end < n ? end + 1 : end;
    }
    return true;
}

Text RoundTripName(const Text& name) {
    NameCodec codec;
    codec.ToWide(name.c_str(), name.Length());
    return Text(codec.ToNarrow(codec.Wide()));
}
