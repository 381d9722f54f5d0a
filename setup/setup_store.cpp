#include "setup/setup_store.h"

#include <cstdio>
#include <cstdlib>

#include "base/text.h"
#include "net/tls_layer.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "store/password.h"

namespace {

const char kSection[] = "Server";

// One line of the account file: its bytes as they are, with the line end after them.
struct FileLine {
    std::string bytes;    // without the line end
    std::string lineEnd;  // "\n", "\r\n" or "" (the last line of a file without one)
};

// The account file split into lines. The server stops reading at the first line that holds no
// bytes once CR bytes are dropped; `readable` counts the lines before it.
class AccountFile {
  public:
    bool Load(const std::string& path, std::string* error) {
        lines_.clear();
        std::FILE* f = std::fopen(platform::MapPath(path.c_str()).c_str(), "rb");
        if (f == nullptr)
            return true;  // a missing account file has no users
        std::string content;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0)
            content.append(buf, n);
        const bool failed = std::ferror(f) != 0;
        std::fclose(f);
        if (failed) {
            *error = "cannot read " + path;
            return false;
        }
        size_t start = 0;
        while (start < content.size()) {
            size_t lf = content.find('\n', start);
            FileLine line;
            if (lf == std::string::npos) {
                line.bytes = content.substr(start);
                start = content.size();
            } else {
                size_t end = lf;
                if (end > start && content[end - 1] == '\r')
                    --end;
                line.bytes = content.substr(start, end - start);
                line.lineEnd = content.substr(end, lf + 1 - end);
                start = lf + 1;
            }
            lines_.push_back(line);
        }
        return true;
    }

    // Writes the lines to a new file beside the old one and renames it over the old one, so
    // the server never reads a half-written account file.
    bool Save(const std::string& directory, const std::string& path, std::string* error) const {
        const std::string temp = platform::MakeTempFileName(directory.c_str(), "pwd");
        if (temp.empty()) {
            *error = "cannot create a temporary file in " + directory;
            return false;
        }
        const std::string tempFile = platform::MapPath(temp.c_str());
        std::FILE* f = std::fopen(tempFile.c_str(), "wb");
        bool ok = f != nullptr;
        for (size_t i = 0; ok && i < lines_.size(); ++i) {
            const FileLine& line = lines_[i];
            ok = std::fwrite(line.bytes.data(), 1, line.bytes.size(), f) == line.bytes.size() &&
                 std::fwrite(line.lineEnd.data(), 1, line.lineEnd.size(), f) == line.lineEnd.size();
        }
        if (f != nullptr && std::fclose(f) != 0)
            ok = false;
        // A plain rename cannot replace an existing file everywhere the plug-in runs.
        if (ok && !platform::ReplaceByRename(temp.c_str(), path.c_str()))
            ok = false;
        if (!ok) {
            std::remove(tempFile.c_str());
            *error = "cannot write " + path;
        }
        return ok;
    }

    // The number of lines the server reads.
    size_t Readable() const {
        for (size_t i = 0; i < lines_.size(); ++i) {
            if (WithoutCr(lines_[i].bytes).empty())
                return i;
        }
        return lines_.size();
    }

    // A line split into its fields as the server splits it.
    static Account Parse(const std::string& bytes) {
        Text line(WithoutCr(bytes).c_str());
        Account account;
        account.mailRoot = line.SplitToken(':').c_str();
        account.userName = line.SplitToken(':').c_str();
        account.storedPassword = line.SplitToken(':').c_str();
        return account;
    }

    // The index of the first line the server reads for the user, or -1.
    int Find(const std::string& userName) const {
        const size_t n = Readable();
        for (size_t i = 0; i < n; ++i) {
            if (Parse(lines_[i].bytes).userName == userName)
                return static_cast<int>(i);
        }
        return -1;
    }

    // The line end new lines get: that of the file's first line, else LF.
    std::string LineEnd() const {
        if (!lines_.empty() && !lines_[0].lineEnd.empty())
            return lines_[0].lineEnd;
        return "\n";
    }

    std::vector<FileLine>& Lines() { return lines_; }
    const std::vector<FileLine>& Lines() const { return lines_; }

  private:
    static std::string WithoutCr(const std::string& bytes) {
        std::string out;
        for (char c : bytes) {
            if (c != '\r')
                out += c;
        }
        return out;
    }

    std::vector<FileLine> lines_;
};

std::string RecordLine(const std::string& mailRoot, const std::string& userName,
                       const std::string& password) {
    const Text stored = EncryptStoredPassword(Text(userName.c_str()), Text(password.c_str()));
    return mailRoot + ":" + userName + ":" + stored.c_str();
}

bool HasForbiddenByte(const std::string& value, bool colonToo) {
    for (char c : value) {
        if (c == '\r' || c == '\n' || c == 0 || (colonToo && c == ':'))
            return true;
    }
    return false;
}

}  // namespace

bool CheckAccountField(const char* what, const std::string& value, std::string* error) {
    if (value.empty()) {
        *error = std::string("the ") + what + " must not be empty";
        return false;
    }
    if (HasForbiddenByte(value, true)) {
        *error = std::string("the ") + what +
                 " must not contain ':', a carriage return, a line feed or a NUL byte";
        return false;
    }
    return true;
}

bool CheckPassword(const std::string& password, std::string* error) {
    if (password.empty()) {
        *error = "the password must not be empty";
        return false;
    }
    if (HasForbiddenByte(password, false)) {
        *error = "the password must not contain a carriage return, a line feed or a NUL byte";
        return false;
    }
    return true;
}

SetupStore::SetupStore(const std::string& directory) : directory_(directory) {
    // The host's form ends with its separator; a directory given without one gets "/".
    if (directory_.empty() || (directory_.back() != '/' && directory_.back() != '\\'))
        directory_ += '/';
}

unsigned SetupStore::PortNo() const {
    return platform::ProfileInt(kSection, "PortNo", 143, SettingsPath().c_str()) & 0xFFFF;
}

int SetupStore::FolderName() const {
    return static_cast<int>(
        platform::ProfileInt(kSection, "FolderName", 1, SettingsPath().c_str()));
}

int SetupStore::Extended() const {
    return static_cast<int>(platform::ProfileInt(kSection, "Extended", 0, SettingsPath().c_str()));
}

bool SetupStore::HasSetting(const char* key) const {
    // A missing key reads as the default, which no file can hold (a value never has a line end).
    char value[8];
    platform::ProfileString(kSection, key, "\n", value, sizeof(value), SettingsPath().c_str());
    return std::string(value) != "\n";
}

bool SetupStore::SetPortNo(const std::string& value, std::string* error) {
    bool digits = !value.empty() && value.size() <= 5;
    for (char c : value) {
        if (c < '0' || c > '9')
            digits = false;
    }
    const long port = digits ? std::strtol(value.c_str(), nullptr, 10) : 0;
    if (port < 1 || port > 65535) {
        *error = "PortNo (the port number) must be a number from 1 to 65535, not '" + value + "'";
        return false;
    }
    const std::string text = std::to_string(port);
    if (!platform::WriteProfileString(kSection, "PortNo", text.c_str(), SettingsPath().c_str())) {
        *error = "cannot write " + SettingsPath();
        return false;
    }
    return true;
}

bool SetupStore::SetFolderName(const std::string& value, std::string* error) {
    if (value != "0" && value != "1") {
        *error = "FolderName must be 0 (directory names) or 1 (folder titles), not '" + value + "'";
        return false;
    }
    if (!platform::WriteProfileString(kSection, "FolderName", value.c_str(),
                                      SettingsPath().c_str())) {
        *error = "cannot write " + SettingsPath();
        return false;
    }
    return true;
}

bool SetupStore::SetExtended(const std::string& value, std::string* error) {
    if (value != "0" && value != "1") {
        *error =
            "Extended must be 0 (the exact command set) or 1 (extended mode), not '" + value + "'";
        return false;
    }
    if (!platform::WriteProfileString(kSection, "Extended", value.c_str(),
                                      SettingsPath().c_str())) {
        *error = "cannot write " + SettingsPath();
        return false;
    }
    return true;
}

namespace {

std::string ReadString(const char* key, const std::string& settings) {
    char value[platform::kMaxPath * 4];
    platform::ProfileString(kSection, key, "", value, sizeof(value), settings.c_str());
    return value;
}

}  // namespace

std::string SetupStore::LogFile() const {
    if (platform::ProfileInt(kSection, "Log", 1, SettingsPath().c_str()) == 0)
        return std::string();
    const std::string file = ReadString("LogFile", SettingsPath());
    if (file.empty())
        return directory_ + "Imap4.log";
    const bool absolute = file[0] == '/' || file[0] == '\\' || (file.size() > 1 && file[1] == ':');
    return absolute ? file : directory_ + file;
}

std::string SetupStore::TlsCert() const {
    return ReadString("TlsCert", SettingsPath());
}

std::string SetupStore::TlsKey() const {
    return ReadString("TlsKey", SettingsPath());
}

unsigned SetupStore::TlsPort() const {
    return platform::ProfileInt(kSection, "TlsPort", 0, SettingsPath().c_str()) & 0xFFFF;
}

int SetupStore::RequireTls() const {
    return static_cast<int>(
        platform::ProfileInt(kSection, "RequireTls", 0, SettingsPath().c_str()));
}

bool SetupStore::SetTlsPort(const std::string& value, std::string* error) {
    bool digits = !value.empty() && value.size() <= 5;
    for (char c : value) {
        if (c < '0' || c > '9')
            digits = false;
    }
    const long port = digits ? std::strtol(value.c_str(), nullptr, 10) : -1;
    if (port < 0 || port > 65535) {
        *error = "TlsPort must be a number from 0 (no TLS port) to 65535, not '" + value + "'";
        return false;
    }
    const std::string text = std::to_string(port);
    if (!platform::WriteProfileString(kSection, "TlsPort", text.c_str(), SettingsPath().c_str())) {
        *error = "cannot write " + SettingsPath();
        return false;
    }
    return true;
}

bool SetupStore::SetRequireTls(const std::string& value, std::string* error) {
    if (value != "0" && value != "1") {
        *error = "RequireTls must be 0 (LOGIN also without TLS) or 1 (LOGIN over TLS only), not '" +
                 value + "'";
        return false;
    }
    if (!platform::WriteProfileString(kSection, "RequireTls", value.c_str(),
                                      SettingsPath().c_str())) {
        *error = "cannot write " + SettingsPath();
        return false;
    }
    return true;
}

bool SetupStore::SetTlsFile(const char* key, const std::string& value, std::string* error) {
    if (std::string(key) != "TlsCert" && std::string(key) != "TlsKey") {
        *error = std::string("no such TLS file setting: ") + key;
        return false;
    }
    if (!value.empty()) {
        const bool absolute =
            value[0] == '/' || value[0] == '\\' || (value.size() > 1 && value[1] == ':');
        const std::string path = absolute ? value : directory_ + value;
        platform::FileStamp stamp;
        if (HasForbiddenByte(value, false) || !platform::FileStampOf(path.c_str(), &stamp)) {
            *error = std::string(key) + " must name a PEM file that exists, not '" + value + "'";
            return false;
        }
    }
    if (!platform::WriteProfileString(kSection, key, value.c_str(), SettingsPath().c_str())) {
        *error = "cannot write " + SettingsPath();
        return false;
    }
    return true;
}

bool SetupStore::MakeCertificate(const std::string& hostName, std::string* usedName,
                                 std::string* error) {
    const std::string certificate = directory_ + kCertificateFile;
    const std::string key = directory_ + kKeyFile;
    if (!WriteSelfSignedCertificate(hostName, certificate.c_str(), key.c_str(), usedName, error))
        return false;
    // Relative names: the server takes them from the mailbox directory, which may move.
    if (!platform::WriteProfileString(kSection, "TlsCert", kCertificateFile,
                                      SettingsPath().c_str()) ||
        !platform::WriteProfileString(kSection, "TlsKey", kKeyFile, SettingsPath().c_str())) {
        *error = "cannot write " + SettingsPath();
        return false;
    }
    return true;
}

bool SetupStore::ListUsers(std::vector<Account>* users, int* ignoredLines,
                           std::string* error) const {
    AccountFile file;
    if (!file.Load(PasswordPath(), error))
        return false;
    users->clear();
    const size_t readable = file.Readable();
    for (size_t i = 0; i < readable; ++i)
        users->push_back(AccountFile::Parse(file.Lines()[i].bytes));
    // Lines after the empty line that ends the server's reading, other than empty ones.
    int ignored = 0;
    for (size_t i = readable; i < file.Lines().size(); ++i) {
        if (!file.Lines()[i].bytes.empty())
            ++ignored;
    }
    *ignoredLines = ignored;
    return true;
}

bool SetupStore::AddUser(const std::string& mailRoot, const std::string& userName,
                         const std::string& password, std::string* error) {
    if (!CheckAccountField("mail root", mailRoot, error) ||
        !CheckAccountField("user name", userName, error) || !CheckPassword(password, error)) {
        return false;
    }
    AccountFile file;
    if (!file.Load(PasswordPath(), error))
        return false;
    if (file.Find(userName) >= 0) {
        *error = "the user " + userName + " already exists (use passwd to change the password)";
        return false;
    }
    // The new line goes where the server's reading ends, so that it is read.
    std::vector<FileLine>& lines = file.Lines();
    const size_t at = file.Readable();
    const std::string lineEnd = file.LineEnd();
    if (at > 0 && lines[at - 1].lineEnd.empty())
        lines[at - 1].lineEnd = lineEnd;
    lines.insert(lines.begin() + static_cast<long>(at),
                 FileLine{RecordLine(mailRoot, userName, password), lineEnd});
    return file.Save(directory_, PasswordPath(), error);
}

bool SetupStore::ChangePassword(const std::string& userName, const std::string& password,
                                std::string* error) {
    if (!CheckAccountField("user name", userName, error) || !CheckPassword(password, error))
        return false;
    AccountFile file;
    if (!file.Load(PasswordPath(), error))
        return false;
    const int index = file.Find(userName);
    if (index < 0) {
        *error = "there is no user " + userName;
        return false;
    }
    FileLine& line = file.Lines()[static_cast<size_t>(index)];
    line.bytes = RecordLine(AccountFile::Parse(line.bytes).mailRoot, userName, password);
    return file.Save(directory_, PasswordPath(), error);
}

bool SetupStore::RemoveUser(const std::string& userName, int* removed, std::string* error) {
    *removed = 0;
    if (!CheckAccountField("user name", userName, error))
        return false;
    AccountFile file;
    if (!file.Load(PasswordPath(), error))
        return false;
    std::vector<FileLine>& lines = file.Lines();
    for (size_t i = 0; i < lines.size();) {
        if (!lines[i].bytes.empty() && AccountFile::Parse(lines[i].bytes).userName == userName) {
            lines.erase(lines.begin() + static_cast<long>(i));
            ++*removed;
        } else {
            ++i;
        }
    }
    if (*removed == 0) {
        *error = "there is no user " + userName;
        return false;
    }
    return file.Save(directory_, PasswordPath(), error);
}
