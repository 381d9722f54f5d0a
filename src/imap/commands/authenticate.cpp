// AUTHENTICATE (extended mode): the PLAIN mechanism, its response given with the command
// (SASL-IR) or after an empty continuation. The name and password it carries are checked as
// LOGIN checks them, under the same throttle and the same TLS rule.
#include <string>

#include "imap/commands/commands.h"
#include "imap/session.h"
#include "mime/base64.h"

namespace {

// The PLAIN response (authorization identity, NUL, name, NUL, password), base64; false when it
// is not one or names another identity to act as.
bool ReadPlain(const Text& response, Text* name, Text* password) {
    std::string bytes;
    Base64DecodeAppend(response.c_str(), static_cast<size_t>(response.Length()), Base64Stray::kStop,
                       &bytes);
    const size_t first = bytes.find('\0');
    const size_t second = first == std::string::npos ? first : bytes.find('\0', first + 1);
    if (second == std::string::npos)
        return false;
    const std::string identity = bytes.substr(0, first);
    const std::string user = bytes.substr(first + 1, second - first - 1);
    if (!identity.empty() && identity != user)
        return false;
    name->Assign("");
    name->AppendBytes(user.data(), static_cast<int>(user.size()));
    password->Assign("");
    password->AppendBytes(bytes.data() + second + 1, static_cast<int>(bytes.size() - second - 1));
    return true;
}

}  // namespace

void RunAuthenticate(Session& s) {
    if (s.command.arguments.Count() < 1 || s.command.arguments.Count() > 2) {
        s.NoArguments();
        return;
    }
    if (s.command.arguments.At(0)->CompareNoCase("PLAIN") != 0) {
        s.SendTagged(" NO [CANNOT] Unsupported authentication mechanism\r\n");
        return;
    }
    if (s.settings.requireTls && !s.channel.TlsActive()) {
        s.SendTagged(" NO [PRIVACYREQUIRED] AUTHENTICATE is allowed over TLS only\r\n");
        return;
    }
    Text response;
    if (s.command.arguments.Count() == 2) {
        response = *s.command.arguments.At(1);
    } else {
        s.Send("+ \r\n");
        bool cut = false;
        if (!s.channel.ReadInputLine(&response, s.CommandLimit(), &cut, nullptr)) {
            s.EndWithoutCompletion();
            return;
        }
        if (cut) {
            s.SendTagged(" BAD response too long\r\n");
            return;
        }
    }
    if (response.Compare("*") == 0) {
        s.SendTagged(" BAD AUTHENTICATE cancelled\r\n");
        return;
    }
    Text name;
    Text password;
    // "=" stands for an empty response.
    if (response.Compare("=") == 0 || !ReadPlain(response, &name, &password)) {
        s.SendTagged(" BAD invalid PLAIN response\r\n");
        return;
    }
    LogIn(s, name, password);
}
