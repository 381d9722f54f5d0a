// LOGIN: the name and password are checked against the account file, and the user's folder
// tree is read. A failure is answered late (LoginThrottle) and a connection with a few of them
// is closed. In extended mode a server that requires TLS refuses LOGIN in the clear.
#include <string>

#include "base/event_log.h"
#include "imap/commands/commands.h"
#include "imap/login_throttle.h"
#include "imap/session.h"
#include "store/mail_store.h"
#include "store/password.h"

void RunLogin(Session& s) {
    if (s.mode == Mode::kExtended && s.settings.requireTls && !s.channel.TlsActive()) {
        s.Log("login refused: TLS is required");
        s.SendTagged(" NO [PRIVACYREQUIRED] LOGIN is allowed over TLS only\r\n");
        return;
    }
    if (s.command.arguments.Count() != 2) {
        s.SendTagged(" BAD invalid username\r\n");
        return;
    }
    LogIn(s, *s.command.arguments.At(0), *s.command.arguments.At(1));
}

void LogIn(Session& s, const Text& name, const Text& password) {
    const UserRecord* user =
        s.settings.users != nullptr ? FindUser(*s.settings.users, name) : nullptr;
    if (user == nullptr || !VerifyPassword(*user, password)) {
        // The name as the client sent it, escaped; never the password.
        s.Log("login failed: user " +
              EventLog::Quoted(name.c_str(), static_cast<size_t>(name.Length())) + ": " +
              (user == nullptr ? "no such user" : "wrong password"));
        // Answered late, and the connection closed after a few: guessing is slow.
        ++s.loginFailures;
        s.Pause(ProcessLoginThrottle().FailureDelayMs(s.settings.peerAddress, s.loginFailures,
                                                      s.settings.loginFailureDelayMs));
        s.SendTagged(" NO username or password is incorrect\r\n");
        if (s.settings.maxLoginFailures != 0 &&
            static_cast<uint32_t>(s.loginFailures) >= s.settings.maxLoginFailures) {
            s.Send("* BYE Too many failed logins\r\n");
            s.SetEndReason("limit: too many failed logins");
            s.channel.EndAfterAnswer();
        }
        return;
    }
    s.store.reset(new MailStore(s.host, user->mailRoot));
    s.store->Load(Text(""), Text("*"), 0);
    s.user = user;
    s.state = Authenticated;
    s.Log("login: user " + EventLog::Quoted(name.c_str(), static_cast<size_t>(name.Length())) +
          (s.channel.TlsActive() ? " over TLS" : ""));
}
