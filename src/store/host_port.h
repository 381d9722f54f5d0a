// HostPort: the calls the server makes to the host program, as the store sees them. The host
// keeps the mail: the server reads its folders and message files in the host's mailbox
// directory, but every change (a message imported, marked or deleted) is asked of the host.
// The store, and the layers above that reach the host through it, hold a HostPort& given to
// them; the real one binds the host's exported functions (shell/host_binding.h), unit tests
// use a fake one.
//
// Every call goes to the host when it is made: nothing is kept, not even the mailbox
// directory, which the host is asked for each time a path is formed (the host's journal shows
// each ask). A port without a host behind it does nothing, and its mailbox directory is "".
#ifndef ORV_STORE_HOST_PORT_H_
#define ORV_STORE_HOST_PORT_H_

#include <cstdint>

class HostPort {
  public:
    virtual ~HostPort() = default;

    // The host's mailbox directory, ending with its separator (the settings, the account file
    // and every user's mail root lie in it); "" when there is no host. Never null.
    virtual const char* MailboxDirectory() = 0;
    // Asks the host to store the message in the file at file (a full path) into the folder
    // folder (mail root "\" folder directory), with the status word status.
    virtual void ImportFile(const char* file, const char* folder, uint32_t status) = 0;
    // Asks the host to set (value 1) or clear (value 0) the status bits mask of the message its
    // key names (mail root "\" folder path "\" file name without extension).
    virtual void MarkMail(const char* key, uint32_t mask, int value) = 0;
    // Asks the host to delete the message its key names: its file and its line in the
    // folder's index. Extended mode only.
    virtual void DeleteMail(const char* key) = 0;

  protected:
    HostPort() = default;
    HostPort(const HostPort&) = default;
    HostPort& operator=(const HostPort&) = default;
};

#endif  // ORV_STORE_HOST_PORT_H_
