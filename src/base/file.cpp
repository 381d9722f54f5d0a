// File and TempFile: a platform file handle with a read-ahead buffer that yields the same bytes
// as reading one byte per platform call, and a self-deleting temporary file.
#include "base/file.h"

#include <string>

File::~File() {
    Close();
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
    if (!platform::ReadFile(handle_, buffer_, sizeof buffer_, &done))
        return false;
    end_ = done;
    return end_ > 0;
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
    int stored = 0;
    for (int c = ReadByte(); c >= 0; c = ReadByte()) {
        if (c == '\r' && mode == kLine)
            continue;
        if (c == '\n' && mode == kLine)
            break;
        line->Append(static_cast<char>(c));
        ++stored;
        if (c == '\n')
            break;
    }
    return stored;
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
