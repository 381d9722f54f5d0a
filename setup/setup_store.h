// SetupStore: the server's settings ("Imap4.ini") and accounts ("passwd") in one mailbox
// directory, as the setup tool and the setup module change them. The account file is read the
// way the server reads it and rewritten atomically, every line that is not changed kept byte
// for byte.
#ifndef ORV_SETUP_SETUP_STORE_H_
#define ORV_SETUP_SETUP_STORE_H_

#include <string>
#include <vector>

// One user as the server sees it.
struct Account {
    std::string mailRoot;
    std::string userName;
    std::string storedPassword;
};

// Checks a user name or mail root for the account file: not empty, and none of ':', CR, LF or
// NUL (they would split or end the line). what names the value in the message ("user name").
bool CheckAccountField(const char* what, const std::string& value, std::string* error);
// Checks a password: not empty, no CR, LF or NUL.
bool CheckPassword(const std::string& password, std::string* error);

class SetupStore {
  public:
    // directory: the mailbox directory, with or without its trailing "/".
    explicit SetupStore(const std::string& directory);

    const std::string& Directory() const { return directory_; }
    std::string SettingsPath() const { return directory_ + "Imap4.ini"; }
    std::string PasswordPath() const { return directory_ + "passwd"; }

    // The settings as the server reads them (defaults 143, 1 and 0).
    unsigned PortNo() const;
    int FolderName() const;
    int Extended() const;
    // Whether the settings file has a value for the key at all.
    bool HasSetting(const char* key) const;

    // Sets "PortNo" from decimal text (1 to 65535).
    bool SetPortNo(const std::string& value, std::string* error);
    // Sets "FolderName" from "0" (directory names) or "1" (folder titles).
    bool SetFolderName(const std::string& value, std::string* error);
    // Sets "Extended" from "0" (the exact command set) or "1" (extended mode).
    bool SetExtended(const std::string& value, std::string* error);

    // TLS: "TlsCert" and "TlsKey" as written (empty when unset), "TlsPort" and "RequireTls"
    // (default 0 each).
    // The server's log as it reads the keys: the file ("LogFile", relative to the mailbox
    // directory, default "Imap4.log"), or empty when "Log" is 0.
    std::string LogFile() const;
    std::string TlsCert() const;
    std::string TlsKey() const;
    unsigned TlsPort() const;
    int RequireTls() const;
    // Sets "TlsPort" from decimal text (0, no TLS port, to 65535).
    bool SetTlsPort(const std::string& value, std::string* error);
    // Sets "RequireTls" from "0" or "1" (LOGIN only over TLS).
    bool SetRequireTls(const std::string& value, std::string* error);
    // Sets "TlsCert" or "TlsKey" (key) to a PEM file's name, absolute or within the directory,
    // which must exist; empty clears it (no TLS; for TlsKey: the key is in the TlsCert file).
    bool SetTlsFile(const char* key, const std::string& value, std::string* error);
    // Writes a new self-signed certificate for hostName (empty: this machine's name) and its
    // key into the directory (kCertificateFile, kKeyFile; the key readable by its owner only)
    // and sets "TlsCert" and "TlsKey" to them. *usedName tells the name it was made for.
    bool MakeCertificate(const std::string& hostName, std::string* usedName, std::string* error);
    static constexpr const char* kCertificateFile = "imap-cert.pem";
    static constexpr const char* kKeyFile = "imap-key.pem";

    // The users the server reads, in file order, and the number of lines after an empty line
    // that it never reads. A missing account file has no users.
    bool ListUsers(std::vector<Account>* users, int* ignoredLines, std::string* error) const;
    // Adds a user (refused when the name is already there).
    bool AddUser(const std::string& mailRoot, const std::string& userName,
                 const std::string& password, std::string* error);
    // Sets the password of the user the server finds under the name (the first of that name).
    bool ChangePassword(const std::string& userName, const std::string& password,
                        std::string* error);
    // Removes every line of the user; *removed tells how many.
    bool RemoveUser(const std::string& userName, int* removed, std::string* error);

  private:
    std::string directory_;
};

#endif  // ORV_SETUP_SETUP_STORE_H_
