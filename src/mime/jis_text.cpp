// Shift_JIS to ISO-2022-JP by arithmetic on the code (no tables): the two 94-character rows of
// JIS X 0208 that share one Shift_JIS lead byte are told apart by the trail byte.
#include "mime/jis_text.h"

#include <cstddef>
#include <vector>

#include "mime/base64.h"
#include "platform/codepage.h"

uint16_t SjisToJisCode(uint16_t sjis) {
    const unsigned s1 = sjis >> 8;
    const unsigned s2 = sjis & 0xFF;
    if (s1 >= 0xF0)
        return sjis;
    const unsigned b = s1 < 0xA0 ? s1 - 0x70 : s1 - 0xB0;
    const unsigned t = s2 >= 0x80 ? s2 - 1 : s2;
    unsigned first;
    unsigned second;
    if (t >= 0x9E) {
        first = 2 * b;
        second = t - 0x7D;
    } else {
        first = 2 * b - 1;
        second = t - 0x1F;
    }
    return static_cast<uint16_t>((first & 0xFF) << 8 | (second & 0xFF));
}

int SjisToJis(const char* src, char* dst) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(src);
    unsigned char* out = reinterpret_cast<unsigned char*>(dst);
    size_t i = 0;
    size_t o = 0;
    while (in[i] != 0) {
        // A lead byte right before the terminator has no trail byte: it is copied below.
        if (!platform::IsLeadByte(in[i]) || in[i + 1] == 0) {
            out[o++] = in[i++];
            continue;
        }
        out[o++] = 0x1B;
        out[o++] = '$';
        out[o++] = 'B';
        while (platform::IsLeadByte(in[i]) && in[i + 1] != 0) {
            const uint16_t jis = SjisToJisCode(static_cast<uint16_t>(in[i] << 8 | in[i + 1]));
            out[o++] = static_cast<unsigned char>(jis >> 8);
            out[o++] = static_cast<unsigned char>(jis & 0xFF);
            i += 2;
        }
        out[o++] = 0x1B;
        out[o++] = '(';
        out[o++] = 'B';
    }
    out[o] = 0;
    return static_cast<int>(o);
}

int JisText::ConvertToJis() {
    if (IsEmpty())
        return 0;
    std::vector<char> buffer(static_cast<size_t>(Length()) * 4 + 10);
    const int n = SjisToJis(c_str(), buffer.data());
    Assign(buffer.data(), n);
    return Length();
}

namespace {

bool StartsCharacter(const unsigned char* s, int i, int n) {
    return i + 1 < n && platform::IsLeadByte(s[i]) && platform::IsTrailByte(s[i + 1]);
}

// Appends "=?ISO-2022-JP?B?", the base64 of the ISO-2022-JP form of n Shift_JIS bytes, "?=".
void AppendEncodedWord(Text* out, const char* run, int n) {
    std::vector<char> sjis(run, run + n);
    sjis.push_back(0);
    std::vector<char> jis(static_cast<size_t>(n) * 4 + 10);
    const int length = SjisToJis(sjis.data(), jis.data());
    Base64Codec base64;
    out->Append("=?ISO-2022-JP?B?");
    out->Append(base64.Encode(jis.data(), static_cast<size_t>(length)));
    out->Append("?=");
}

}  // namespace

int JisText::EncodeHeaderWords() {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(c_str());
    const int n = Length();
    Text out("");
    int i = 0;
    while (i < n) {
        if (!StartsCharacter(s, i, n)) {
            out.Append(static_cast<char>(s[i]));
            ++i;
            continue;
        }
        const int start = i;
        i += 2;
        for (;;) {
            if (StartsCharacter(s, i, n))
                i += 2;
            else if (i < n && s[i] == ' ')
                ++i;
            else
                break;
        }
        AppendEncodedWord(&out, c_str() + start, i - start);
    }
    Assign(out);
    return Length();
}
