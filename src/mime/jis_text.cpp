// Shift_JIS to ISO-2022-JP by arithmetic on the code: the two 94-character rows of JIS X 0208
// that share one Shift_JIS lead byte are told apart by the trail byte. Only the IBM extension
// codes go through a table first (mime/ibm_extensions.h).
//
// Every conversion runs one scanner over its bytes: runs of plain bytes (ASCII, line ends
// included) are found sixteen or more bytes at a time and copied whole, so text that is mostly
// ASCII (an attachment in base64) costs little more than a copy; output is collected in a block on
// the stack and appended to the Text in large pieces, with no allocation per line.
#include "mime/jis_text.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "mime/base64.h"
#include "mime/ibm_extensions.h"
#include "platform/codepage.h"

// Every x86-64 processor has SSE2, and so do the 32-bit targets built for it; others (the
// 32-bit Windows build by default) scan eight bytes at a time.
#if defined(__SSE2__)
#include <emmintrin.h>
#define ORV_SCAN_SSE2 1
#else
#define ORV_SCAN_SSE2 0
#endif

namespace {

// The code page's lead and trail bytes as a table, asked of the platform once.
struct ByteClasses {
    bool lead[256];
    bool trail[256];
};

ByteClasses MakeByteClasses() {
    ByteClasses classes;
    for (int b = 0; b < 256; ++b) {
        classes.lead[b] = platform::IsLeadByte(static_cast<unsigned char>(b));
        classes.trail[b] = platform::IsTrailByte(static_cast<unsigned char>(b));
    }
    return classes;
}

const ByteClasses& Classes() {
    static const ByteClasses classes = MakeByteClasses();
    return classes;
}

// Written without branches on the bytes (which of the two rows a trail byte selects is as good
// as random in running text). An IBM extension code first becomes the code of its character in
// the rows ISO-2022-JP carries, else its arithmetic would give bytes above 0x7E; the
// user-defined codes (0xF040-0xF9FC) have no such place and stay as they are.
inline uint16_t JisCode(unsigned s1, unsigned s2) {
    if (s1 >= 0xF0) {
        const uint16_t same = StandardCodeOfIbmExtension(static_cast<uint16_t>(s1 << 8 | s2));
        if (same >> 8 >= 0xF0)
            return same;
        s1 = same >> 8;
        s2 = same & 0xFF;
    }
    const unsigned b = s1 - 0x70 - 0x40 * static_cast<unsigned>(s1 >= 0xA0);
    const unsigned t = s2 - static_cast<unsigned>(s2 >= 0x80);
    const unsigned even = static_cast<unsigned>(t >= 0x9E);
    const unsigned first = 2 * b - 1 + even;
    const unsigned second = t - 0x1F - 0x5E * even;
    return static_cast<uint16_t>((first & 0xFF) << 8 | (second & 0xFF));
}

// Eight bytes at a time: a word holds a NUL or a high byte exactly when (w | (w - 0x01...01))
// has a high bit set at or below it, so a hit is checked byte by byte.
inline size_t ScanPlainWords(const unsigned char* s, size_t pos, size_t n) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    // Long plain runs (an attachment's base64) go sixteen bytes at a time.
    while (pos + 16 <= n) {
        uint64_t a;
        uint64_t b;
        std::memcpy(&a, s + pos, 8);
        std::memcpy(&b, s + pos + 8, 8);
        if (((a | (a - kOnes) | b | (b - kOnes)) & kHigh) != 0)
            break;
        pos += 16;
    }
    while (pos + 8 <= n) {
        uint64_t w;
        std::memcpy(&w, s + pos, 8);
        if (((w | (w - kOnes)) & kHigh) != 0)
            break;
        pos += 8;
    }
    while (pos < n && s[pos] != 0 && s[pos] < 0x80)
        ++pos;
    return pos;
}

#if ORV_SCAN_SSE2
// Sixty-four bytes at a time: their high bits, and a NUL as the zero of their byte-wise
// minimum, in one mask.
inline size_t ScanPlainSse2(const unsigned char* s, size_t pos, size_t n) {
    const __m128i zero = _mm_setzero_si128();
    while (pos + 64 <= n) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos + 48));
        const __m128i high = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
        const __m128i least = _mm_min_epu8(_mm_min_epu8(a, b), _mm_min_epu8(c, d));
        if (_mm_movemask_epi8(_mm_or_si128(high, _mm_cmpeq_epi8(least, zero))) != 0)
            break;
        pos += 64;
    }
    while (pos + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos));
        const int mask = _mm_movemask_epi8(_mm_or_si128(v, _mm_cmpeq_epi8(v, zero)));
        if (mask != 0)
            return pos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        pos += 16;
    }
    while (pos < n && s[pos] != 0 && s[pos] < 0x80)
        ++pos;
    return pos;
}
#endif

// The index of the first byte at or after pos that is NUL or has its high bit set (lead bytes
// all do); n when there is none.
inline size_t ScanPlain(const unsigned char* s, size_t pos, size_t n) {
#if ORV_SCAN_SSE2
    return ScanPlainSse2(s, pos, n);
#else
    return ScanPlainWords(s, pos, n);
#endif
}

// As ScanPlain, also stopping at a CR.
inline size_t ScanPlainOrCr(const unsigned char* s, size_t pos, size_t n) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    constexpr uint64_t kCrs = 0x0D0D0D0D0D0D0D0Dull;
    while (pos + 8 <= n) {
        uint64_t w;
        std::memcpy(&w, s + pos, 8);
        const uint64_t cr = w ^ kCrs;  // a CR byte becomes NUL
        if (((w | (w - kOnes) | (cr - kOnes)) & kHigh) != 0)
            break;
        pos += 8;
    }
    while (pos < n && s[pos] != 0 && s[pos] != '\r' && s[pos] < 0x80)
        ++pos;
    return pos;
}

// As ScanPlain, for header text, where a NUL is an ordinary byte: the first high byte.
inline size_t ScanAscii(const unsigned char* s, size_t pos, size_t n) {
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    while (pos + 8 <= n) {
        uint64_t w;
        std::memcpy(&w, s + pos, 8);
        if ((w & kHigh) != 0)
            break;
        pos += 8;
    }
    while (pos < n && s[pos] < 0x80)
        ++pos;
    return pos;
}

// The most a converter asks of a sink's Room at once.
constexpr size_t kRoom = 512;

// Collects output in a block on the stack and appends it to a Text in large pieces; long
// spans of input go to the Text directly.
class TextSink {
  public:
    static constexpr bool kCountsOnly = false;
    explicit TextSink(Text* out) : out_(out) {}
    ~TextSink() { Flush(); }
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    void Put(unsigned char c) {
        if (used_ == sizeof block_)
            Flush();
        block_[used_++] = static_cast<char>(c);
        ++count_;
    }
    void Span(const unsigned char* s, size_t n) {
        count_ += n;
        if (n >= 256) {
            Flush();
            out_->AppendBytes(reinterpret_cast<const char*>(s), static_cast<int>(n));
            return;
        }
        if (used_ + n > sizeof block_)
            Flush();
        std::memcpy(block_ + used_, s, n);
        used_ += n;
    }
    // Room for n bytes (at most kRoom) written through the pointer, then Commit of the count
    // written: the hot loop keeps its position in a register rather than in this object.
    unsigned char* Room(size_t n) {
        if (used_ + n > sizeof block_)
            Flush();
        return reinterpret_cast<unsigned char*>(block_ + used_);
    }
    void Commit(size_t n) {
        used_ += n;
        count_ += n;
    }
    void Flush() {
        if (used_ > 0)
            out_->AppendBytes(block_, static_cast<int>(used_));
        used_ = 0;
    }
    size_t Count() const { return count_; }

  private:
    Text* out_;
    size_t used_ = 0;
    size_t count_ = 0;
    char block_[2048];
};

// Writes into a buffer known to be large enough.
class BufferSink {
  public:
    static constexpr bool kCountsOnly = false;
    explicit BufferSink(unsigned char* out) : out_(out) {}
    void Put(unsigned char c) { out_[count_++] = c; }
    void Span(const unsigned char* s, size_t n) {
        std::memcpy(out_ + count_, s, n);
        count_ += n;
    }
    unsigned char* Room(size_t) { return out_ + count_; }
    void Commit(size_t n) { count_ += n; }
    size_t Count() const { return count_; }

  private:
    unsigned char* out_;
    size_t count_ = 0;
};

// Only counts; a converter leaves the codes of double-byte characters uncomputed for it.
class CountSink {
  public:
    static constexpr bool kCountsOnly = true;
    void Put(unsigned char) { ++count_; }
    void Span(const unsigned char*, size_t n) { count_ += n; }
    size_t Count() const { return count_; }

  private:
    size_t count_ = 0;
};

const unsigned char kToJis[3] = {0x1B, '$', 'B'};
const unsigned char kToAscii[3] = {0x1B, '(', 'B'};
// Writes the JIS codes of the run of double-byte characters that starts at i (a lead byte with
// a byte after it that is not NUL) in pieces of the sink's room, and returns where the run ends:
// at the first byte that does not lead such a pair, or after a pair whose second byte is the
// LF that ends the line (lineEnds).
template <class Sink>
size_t PutJisRun(const unsigned char* s, size_t i, size_t n, bool lineEnds, Sink& out) {
    const ByteClasses& classes = Classes();
    for (;;) {
        unsigned char* const room = out.Room(kRoom);
        size_t k = 0;
        while (k + 2 <= kRoom) {
            const uint16_t jis = JisCode(s[i], s[i + 1]);
            room[k] = static_cast<unsigned char>(jis >> 8);
            room[k + 1] = static_cast<unsigned char>(jis & 0xFF);
            k += 2;
            i += 2;
            if ((lineEnds && s[i - 1] == '\n') ||
                !(i + 1 < n && classes.lead[s[i]] && s[i + 1] != 0)) {
                out.Commit(k);
                return i;
            }
        }
        out.Commit(k);
    }
}

// The SjisToJis conversion of n bytes. With lineEnds, every line is a text of its own: a run of
// double-byte characters ends with its line, and a NUL drops the rest of its line. Without, the
// n bytes are one text and a NUL ends it.
template <bool lineEnds, class Sink>
void Convert(const unsigned char* s, size_t n, Sink& out) {
    const ByteClasses& classes = Classes();
    size_t pos = 0;
    while (pos < n) {
        const size_t q = ScanPlain(s, pos, n);
        if (q > pos)
            out.Span(s + pos, q - pos);
        if (q >= n)
            return;
        const unsigned char b = s[q];
        if (b == 0) {
            if (!lineEnds)
                return;
            const void* lf = std::memchr(s + q, '\n', n - q);
            pos = lf != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(lf) - s) + 1
                                : n;
            continue;
        }
        // A lead byte without a byte after it in its text is copied as it is.
        if (!classes.lead[b] || q + 1 >= n || s[q + 1] == 0) {
            out.Put(b);
            pos = q + 1;
            continue;
        }
        out.Span(kToJis, 3);
        size_t i = q;
        if constexpr (Sink::kCountsOnly) {
            // Two bytes out for every two in: only the end of the run is needed.
            do {
                i += 2;
                if (lineEnds && s[i - 1] == '\n')
                    break;
            } while (i + 1 < n && classes.lead[s[i]] && s[i + 1] != 0);
            out.Span(nullptr, i - q);
        } else {
            i = PutJisRun(s, i, n, lineEnds, out);
        }
        out.Span(kToAscii, 3);
        pos = i;
    }
}

// The standard base64 of n bytes, padded, in pieces of whole groups that fit the sink's room.
void PutBase64(const unsigned char* in, size_t n, TextSink& out) {
    constexpr size_t kPiece = kRoom / 4 * 3;
    for (size_t i = 0; i < n; i += kPiece) {
        const size_t take = n - i < kPiece ? n - i : kPiece;
        out.Commit(Base64EncodeTo(in + i, take, reinterpret_cast<char*>(out.Room(kRoom))));
    }
}

// "=?ISO-2022-JP?B?", the base64 of the ISO-2022-JP form of n Shift_JIS bytes, "?=". The run
// holds double-byte characters and blanks only, so it has no NUL.
void PutEncodedWord(const unsigned char* run, size_t n, TextSink& out) {
    static const unsigned char kOpen[] = "=?ISO-2022-JP?B?";
    unsigned char stack[1024];
    std::vector<unsigned char> heap;
    unsigned char* jis = stack;
    if (n * 4 + 10 > sizeof stack) {
        heap.resize(n * 4 + 10);
        jis = heap.data();
    }
    BufferSink sink(jis);
    Convert<false>(run, n, sink);
    out.Span(kOpen, sizeof kOpen - 1);
    PutBase64(jis, sink.Count(), out);
    out.Put('?');
    out.Put('=');
}

inline bool StartsCharacter(const ByteClasses& classes, const unsigned char* s, size_t i,
                            size_t n) {
    return i + 1 < n && classes.lead[s[i]] && classes.trail[s[i + 1]];
}

}  // namespace

uint16_t SjisToJisCode(uint16_t sjis) {
    return JisCode(sjis >> 8, sjis & 0xFF);
}

int SjisToJis(const char* src, char* dst) {
    const size_t n = std::strlen(src);
    BufferSink sink(reinterpret_cast<unsigned char*>(dst));
    Convert<false>(reinterpret_cast<const unsigned char*>(src), n, sink);
    dst[sink.Count()] = 0;
    return static_cast<int>(sink.Count());
}

int AppendJisLines(const char* src, int n, Text* out) {
    if (n <= 0)
        return 0;
    TextSink sink(out);
    Convert<true>(reinterpret_cast<const unsigned char*>(src), static_cast<size_t>(n), sink);
    return static_cast<int>(sink.Count());
}

int JisLinesLength(const char* src, int n) {
    if (n <= 0)
        return 0;
    CountSink sink;
    Convert<true>(reinterpret_cast<const unsigned char*>(src), static_cast<size_t>(n), sink);
    return static_cast<int>(sink.Count());
}

void JisLineStream::Append(const char* text, size_t n, Text* out) {
    if (n == 0)
        return;
    const ByteClasses& classes = Classes();
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    TextSink sink(out);
    size_t pos = 0;
    // A lead byte kept from the last piece pairs with the first byte here unless that is NUL.
    if (lead_ >= 0) {
        const unsigned char lead = static_cast<unsigned char>(lead_);
        lead_ = -1;
        if (s[0] == 0) {
            if (inRun_)
                sink.Span(kToAscii, 3);
            inRun_ = false;
            sink.Put(lead);
        } else {
            if (!inRun_)
                sink.Span(kToJis, 3);
            inRun_ = true;
            const uint16_t jis = JisCode(lead, s[0]);
            sink.Put(static_cast<unsigned char>(jis >> 8));
            sink.Put(static_cast<unsigned char>(jis & 0xFF));
            pos = 1;
            if (s[0] == '\n') {
                sink.Span(kToAscii, 3);
                inRun_ = false;
            }
        }
    }
    for (;;) {
        if (dropping_) {
            const void* lf = std::memchr(s + pos, '\n', n - pos);
            if (lf == nullptr)
                return;
            pos = static_cast<size_t>(static_cast<const unsigned char*>(lf) - s) + 1;
            dropping_ = false;
        }
        if (inRun_) {
            // The run goes on while a lead byte comes with a byte after it that is not NUL; a
            // lead byte or nothing at the end of the piece leaves that to the next one.
            if (pos >= n)
                return;
            if (classes.lead[s[pos]] && pos + 1 >= n) {
                lead_ = s[pos];
                return;
            }
            if (classes.lead[s[pos]] && s[pos + 1] != 0) {
                const size_t i = PutJisRun(s, pos, n, true, sink);
                pos = i;
                // A pair ending in LF ends the run with its line; otherwise what follows decides.
                if (s[i - 1] != '\n')
                    continue;
            }
            sink.Span(kToAscii, 3);
            inRun_ = false;
        }
        if (pos >= n)
            return;
        const size_t q = ScanPlain(s, pos, n);
        if (q > pos)
            sink.Span(s + pos, q - pos);
        if (q >= n)
            return;
        const unsigned char b = s[q];
        pos = q + 1;
        if (b == 0) {
            dropping_ = true;
        } else if (!classes.lead[b]) {
            sink.Put(b);
        } else if (q + 1 >= n) {
            lead_ = b;
            return;
        } else if (s[q + 1] == 0) {
            sink.Put(b);
        } else {
            sink.Span(kToJis, 3);
            inRun_ = true;
            pos = q;
        }
    }
}

void JisLineStream::Finish(Text* out) {
    TextSink sink(out);
    if (inRun_)
        sink.Span(kToAscii, 3);
    if (lead_ >= 0)
        sink.Put(static_cast<unsigned char>(lead_));
    dropping_ = false;
    inRun_ = false;
    lead_ = -1;
}

size_t JisLineStream::UnchangedLength(const char* s, size_t n) const {
    if (dropping_ || inRun_ || lead_ >= 0)
        return 0;
    return ScanPlain(reinterpret_cast<const unsigned char*>(s), 0, n);
}

size_t PlainLength(const char* s, size_t n) {
    return ScanPlain(reinterpret_cast<const unsigned char*>(s), 0, n);
}

size_t PlainLengthPortable(const char* s, size_t n) {
    return ScanPlainWords(reinterpret_cast<const unsigned char*>(s), 0, n);
}

int SjisToJisLengthBeforeCr(const char* src, int n) {
    if (n <= 0)
        return 0;
    // Plain bytes up to the first CR, NUL or high byte; only a line with double-byte text
    // needs the converter's count, on the part before its CR.
    const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
    const size_t length = static_cast<size_t>(n);
    const size_t stop = ScanPlainOrCr(s, 0, length);
    if (stop == length || s[stop] == '\r' || s[stop] == 0)
        return static_cast<int>(stop);
    const void* cr = std::memchr(s + stop, '\r', length - stop);
    const size_t end =
        cr != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(cr) - s) : length;
    CountSink sink;
    Convert<false>(s, end, sink);
    return static_cast<int>(sink.Count());
}

int SjisToJisLength(const char* src, int n) {
    if (n <= 0)
        return 0;
    CountSink sink;
    Convert<false>(reinterpret_cast<const unsigned char*>(src), static_cast<size_t>(n), sink);
    return static_cast<int>(sink.Count());
}

int AppendHeaderWords(const char* text, int length, Text* out) {
    if (length <= 0)
        return 0;
    const ByteClasses& classes = Classes();
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    const size_t n = static_cast<size_t>(length);
    TextSink sink(out);
    size_t i = 0;
    while (i < n) {
        const size_t q = ScanAscii(s, i, n);
        if (q > i)
            sink.Span(s + i, q - i);
        if (q >= n)
            break;
        if (!StartsCharacter(classes, s, q, n)) {
            sink.Put(s[q]);
            i = q + 1;
            continue;
        }
        i = q + 2;
        for (;;) {
            if (StartsCharacter(classes, s, i, n))
                i += 2;
            else if (i < n && s[i] == ' ')
                ++i;
            else
                break;
        }
        PutEncodedWord(s + q, i - q, sink);
    }
    sink.Flush();
    return static_cast<int>(sink.Count());
}

int JisText::ConvertToJis() {
    if (IsEmpty())
        return 0;
    // The text ends at its first NUL, as a C string does.
    const void* nul = std::memchr(c_str(), 0, static_cast<size_t>(Length()));
    const size_t n = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - c_str())
                                    : static_cast<size_t>(Length());
    unsigned char stack[1024];
    std::vector<unsigned char> heap;
    unsigned char* jis = stack;
    if (n * 4 + 10 > sizeof stack) {
        heap.resize(n * 4 + 10);
        jis = heap.data();
    }
    BufferSink sink(jis);
    Convert<false>(reinterpret_cast<const unsigned char*>(c_str()), n, sink);
    Assign(reinterpret_cast<const char*>(jis), static_cast<int>(sink.Count()));
    return Length();
}

int JisText::EncodeHeaderWords() {
    Text out("");
    AppendHeaderWords(c_str(), Length(), &out);
    Assign(out);
    return Length();
}
