// File and TempFile: a platform file handle with a read-ahead buffer that yields the same bytes
// as reading one byte per platform call, and a self-deleting temporary file.
#include "base/file.h"

#include <cstring>
#include <string>

File::~File() {
    Close();
    if (buffer_ != small_)
        delete[] buffer_;
}

bool File::Open(const char* path, uint32_t access, platform::FileDisposition disposition) {
    Close();
    handle_ = platform::OpenFile(path, access, disposition);
    return IsOpen();
}

void File::Close() {
    if (IsOpen())
        platform::CloseFile(handle_);
    handle_ = platform::kInvalidFile;
    pos_ = 0;
    end_ = 0;
}

bool File::Fill() {
    if (pos_ < end_)
        return true;
    pos_ = 0;
    end_ = 0;
    if (!IsOpen())
        return false;
    uint32_t done = 0;
    if (!platform::ReadFile(handle_, buffer_, capacity_, &done))
        return false;
    end_ = done;
    return end_ > 0;
}

void File::SetReadAhead(uint32_t bytes) {
    if (bytes < kSmallBuffer)
        bytes = kSmallBuffer;
    if (bytes > kMaxReadAhead)
        bytes = kMaxReadAhead;
    if (bytes <= capacity_)
        return;
    char* block = new char[bytes];
    // Bytes already read ahead stay where the reader will find them.
    std::memcpy(block, buffer_ + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
    if (buffer_ != small_)
        delete[] buffer_;
    buffer_ = block;
    capacity_ = bytes;
}

int64_t File::Size() {
    if (!IsOpen())
        return -1;
    const int64_t here = platform::SeekFile(handle_, 0, platform::kSeekCurrent);
    const int64_t size = platform::SeekFile(handle_, 0, platform::kSeekEnd);
    if (here < 0 || platform::SeekFile(handle_, here, platform::kSeekBegin) != here)
        return -1;
    return size;
}

void File::AppendRest(std::string* out) {
    // Most files arrive in one read of their whole size; a file that grew takes more blocks.
    const int64_t size = Size();
    size_t block = size > 0 && size < (int64_t{1} << 30) ? static_cast<size_t>(size) + 1 : 0;
    if (block < (64u << 10))
        block = 64u << 10;
    for (;;) {
        const size_t have = out->size();
        out->resize(have + block);
        const uint32_t n = Read(&(*out)[have], static_cast<uint32_t>(block));
        out->resize(have + n);
        if (n == 0)
            return;
        block = 64u << 10;
    }
}

uint32_t File::Read(void* data, uint32_t n) {
    char* out = static_cast<char*>(data);
    uint32_t done = end_ - pos_ < n ? end_ - pos_ : n;
    std::memcpy(out, buffer_ + pos_, done);
    pos_ += done;
    if (done == n || !IsOpen())
        return done;
    // The rest comes straight from the platform, without passing through the buffer.
    uint32_t more = 0;
    platform::ReadFile(handle_, out + done, n - done, &more);
    return done + more;
}

uint32_t File::TakeReadAhead(const char** bytes) {
    const uint32_t n = end_ - pos_;
    *bytes = buffer_ + pos_;
    pos_ = end_;
    return n;
}

bool File::Unread(uint32_t n) {
    // The platform's position is past the bytes read ahead as well.
    const int64_t back = static_cast<int64_t>(n) + static_cast<int64_t>(end_ - pos_);
    pos_ = 0;
    end_ = 0;
    return IsOpen() && platform::SeekFile(handle_, -back, platform::kSeekCurrent) >= 0;
}

int File::SpillLine(const char** line) {
    spill_.Clear();
    spill_.AppendBytes(buffer_ + pos_, static_cast<int>(end_ - pos_));
    pos_ = end_;
    while (Fill()) {
        const char* start = buffer_ + pos_;
        const void* lf = std::memchr(start, '\n', end_ - pos_);
        const uint32_t n = lf != nullptr
                               ? static_cast<uint32_t>(static_cast<const char*>(lf) - start) + 1
                               : end_ - pos_;
        spill_.AppendBytes(start, static_cast<int>(n));
        pos_ += n;
        if (lf != nullptr)
            break;
    }
    *line = spill_.c_str();
    return spill_.Length();
}

int File::NextLine(const char** line) {
    if (!Fill())
        return 0;
    const char* start = buffer_ + pos_;
    const void* lf = std::memchr(start, '\n', end_ - pos_);
    if (lf == nullptr)
        return SpillLine(line);
    const int n = static_cast<int>(static_cast<const char*>(lf) - start) + 1;
    pos_ += static_cast<uint32_t>(n);
    *line = start;
    return n;
}

int File::NextLines(const char** lines) {
    if (!Fill())
        return 0;
    const char* start = buffer_ + pos_;
    const uint32_t available = end_ - pos_;
    // The last LF of the read-ahead ends the run of whole lines.
    uint32_t n = available;
    while (n > 0 && start[n - 1] != '\n')
        --n;
    if (n == 0)
        return SpillLine(lines);
    pos_ += n;
    *lines = start;
    return static_cast<int>(n);
}

int File::ReadByte() {
    if (!Fill())
        return -1;
    return static_cast<unsigned char>(buffer_[pos_++]);
}

int File::PeekByte() {
    if (!Fill())
        return -1;
    return static_cast<unsigned char>(buffer_[pos_]);
}

int File::ReadLine(Text* line, LineMode mode) {
    line->Clear();
    const char* raw = nullptr;
    const int n = NextLine(&raw);
    if (mode == kRaw) {
        if (n > 0)
            line->AppendBytes(raw, n);
        return n;
    }
    // Line mode: every CR is dropped, and the LF is not stored.
    const int end = n > 0 && raw[n - 1] == '\n' ? n - 1 : n;
    int from = 0;
    while (from < end) {
        const void* cr = std::memchr(raw + from, '\r', static_cast<size_t>(end - from));
        const int to = cr != nullptr ? static_cast<int>(static_cast<const char*>(cr) - raw) : end;
        if (to > from)
            line->AppendBytes(raw + from, to - from);
        from = to + 1;
    }
    return line->Length();
}

bool File::WriteByte(char c) {
    return Write(&c, 1);
}

bool File::Write(const char* data, uint32_t n) {
    if (!IsOpen())
        return false;
    if (pos_ < end_) {
        // The OS position is past the read-ahead bytes; move it back to where the reader is so
        // the write lands right after the last byte read.
        const int64_t back = static_cast<int64_t>(end_ - pos_);
        if (platform::SeekFile(handle_, -back, platform::kSeekCurrent) < 0)
            return false;
    }
    pos_ = 0;
    end_ = 0;
    if (n == 0)
        return true;
    uint32_t done = 0;
    return platform::WriteFile(handle_, data, n, &done) != 0 && done == n;
}

int64_t File::SeekTo(int64_t position) {
    pos_ = 0;
    end_ = 0;
    if (!IsOpen())
        return -1;
    return platform::SeekFile(handle_, position, platform::kSeekBegin);
}

bool File::LastWriteTime(platform::SystemTime* out) {
    return IsOpen() && platform::FileLastWriteTime(handle_, out) != 0;
}

TempFile::TempFile() {
    const std::string dir = platform::TempDirectory();
    const std::string name = platform::MakeTempFileName(dir.c_str(), "imp");
    if (name.empty())
        return;
    path_ = name.c_str();
    // The name was created empty, so open-existing finds it; create-always covers a file that
    // went missing in between.
    if (!Open(name.c_str(), platform::kAccessReadWrite, platform::kOpenExisting)) {
        Open(name.c_str(), platform::kAccessReadWrite, platform::kCreateAlways);
    }
}

TempFile::~TempFile() {
    Close();
    if (!path_.IsEmpty())
        platform::DeleteFilePath(path_.c_str());
}
