// Session: the IMAP side of one connection. It holds what every command works on (the mode,
// the state, the logged-in user, the folder tree and the selected folder), runs each command
// line through the command table, and ends each command with its tagged completion. The mode
// is a value read when the connection starts: exact (the plug-in's historical command set,
// byte for byte) or extended (what today's clients need beyond it); each command's handler
// holds both paths.
#ifndef ORV_IMAP_SESSION_H_
#define ORV_IMAP_SESSION_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/mode.h"
#include "base/text.h"
#include "imap/client_channel.h"
#include "imap/command_line.h"
#include "mime/extended_form.h"
#include "render/output.h"
#include "store/folder_flags.h"
#include "store/user_table.h"

class HostPort;
class Mailbox;
class MailStore;
struct MessageEntry;

enum SessionState { NotAuthenticated = 0, Authenticated = 1, Selected = 2 };

// What a session is told when its connection starts.
struct SessionSettings {
    Mode mode = Mode::kExact;
    HostPort* host = nullptr;          // the host of the users' store (not owned; required)
    const UserTable* users = nullptr;  // the account table LOGIN looks names up in (not owned)
    uint32_t maxAppendSize = 0;        // the largest APPEND literal accepted; 0: no limit
    // The bytes of one command, its lines and literals together (APPEND's message aside);
    // 0: no limit. Before LOGIN a much smaller limit holds in any case.
    uint32_t maxCommandBytes = 0;
    // How long a client may stay silent before LOGIN and after it (IDLE included) before the
    // server says goodbye and closes the connection; 0: no limit.
    uint32_t loginTimeoutMs = 0;
    uint32_t idleTimeoutMs = 0;
    // Failed LOGINs: answered this much later per failure on the connection (0: at once),
    // and the connection closed after this many (0: never). See LoginThrottle.
    uint32_t loginFailureDelayMs = 0;
    uint32_t maxLoginFailures = 0;
    std::string peerAddress;        // the client's address, "" when unknown
    uint32_t connectionNumber = 0;  // the connection's number in the server's log
    bool requireTls = false;        // extended mode: LOGIN only once TLS is on
};

class Session : public Output {
  public:
    Session(ClientChannel& channel, const SessionSettings& settings);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The greeting, sent when the connection opens.
    void Greet();
    // The bytes a command may hold in the session's state: its first line, further lines and
    // literals together. The transport cuts a longer first line; 0: no limit.
    uint32_t CommandLimit() const;
    // How long the client may stay silent in the session's state; 0: no limit.
    uint32_t InputTimeoutMs() const {
        return state == NotAuthenticated ? settings.loginTimeoutMs : settings.idleTimeoutMs;
    }
    // The goodbye to a client that stayed silent too long.
    static const char* const kTimeoutLine;
    // Runs one command line (without its CR LF) to its tagged completion.
    void RunLine(const char* line);
    // Answers a line that was cut at the length limit; start is what was kept of it.
    void RunOverlongLine(const char* start);
    // The line a server stop sends to every connection before closing it.
    static const char* const kStopLine;

    // Output: the handlers' and renderers' bytes go to the client.
    void Write(const char* data, int len = -1) override { channel.Queue(data, len); }
    bool Closing() const override { return channel.Closing(); }
    void Send(const char* data, int len = -1) { channel.Queue(data, len); }
    void SendNumber(int32_t n) { WriteNumber(n); }

    // Work a command leaves for after its answer went out (the client does not wait for it),
    // run by RunAfterAnswer: on the connection, once the answer is sent; otherwise before the
    // next line, or when the session ends.
    void AfterAnswer(std::function<void()> work) { afterAnswer_.push_back(std::move(work)); }
    void RunAfterAnswer();

    // Tagged completions; each ends the command's answer (no "OK ... complated" follows).
    // SendTagged: the tag, then text (which starts with a blank and ends with CR LF).
    void SendTagged(const char* text);
    // "tag OK [code ]WORD complated": the success line, with a response code when given.
    void Complete(const Text& code);
    // "tag BAD Command Not impremented WORD": a command unknown in this mode.
    void NotImplemented();
    // "tag NO please give arguments": missing or surplus arguments.
    void NoArguments();
    // For a client that went away mid-command: nothing more is sent for it.
    void EndWithoutCompletion() { completionPending_ = false; }
    // True while the command has not sent its tagged line (the table sends the plain OK).
    bool CompletionPending() const { return completionPending_; }

    // Helpers the commands share.
    // The folder path for a client's mailbox name; answers "NO No such folder." and yields an
    // empty path when it names no folder.
    Text ResolveFolder(const Text& clientName);
    // The folder path for a mailbox name already in the local code page; empty when it names no
    // folder. The exact mode looks in the tree read at LOGIN; the extended mode reads the tree
    // again and looks for the names LIST gives now (MailStore::UniqueNames).
    Text FindFolderPath(const Text& localName);
    // A client's mailbox name in the local code page: modified UTF-7 (raw bytes pass), or UTF-8
    // once the client enabled it. False (and *out empty) for a name with a character the code
    // page lacks, which names no folder.
    bool FolderName(const Text& clientName, Text* out) const;
    // A mailbox name for the client from its modified UTF-7 form: as it is, or UTF-8 once the
    // client enabled it.
    Text ClientName(const Text& encodedName) const;
    // Extended mode: writes a mailbox name (as the client gets it) as an atom when it is one,
    // else as a quoted string: an empty name, a title with a blank, a quote, a wildcard, or
    // UTF-8 once enabled.
    void SendMailboxName(const Text& name);
    // STATUS, SUBSCRIBE and UNSUBSCRIBE: the argument count, then the folder of argument 0.
    // Empty when a check failed (and was answered).
    Text FolderArgument(int count);
    // The argument count of FETCH, STORE and SEARCH (maximum < 0: no limit); answers when
    // it is wrong.
    bool ArgumentCount(int minimum, int maximum);
    // Serves every message of a set of the selected folder, in the set's order, until the
    // connection is closing; serve gets the entry and its sequence number. With make false, a
    // message whose entry was not made yet is served as a passing copy of its record (UID,
    // status word, no file name): enough for an answer of UIDs and flags, which so makes no
    // entry per message.
    void WalkSet(const Text& set, const std::function<void(MessageEntry&, int)>& serve,
                 bool make = true);
    // Extended mode: reports what the host changed in the selected folder since it was opened
    // or last reported, and the kept flags other connections changed (EXPUNGE, FETCH FLAGS,
    // EXISTS and RECENT lines, FLAGS for keywords new to the client).
    void ReportChanges();
    // Extended mode: the flags of the selected folder as FLAGS names them: the host's four,
    // \Flagged and the keywords the client was told of, joined by blanks.
    Text FlagNames() const;
    // Extended mode: when keptFlags holds a keyword the client was not told of, a new FLAGS
    // line tells it (before the line that shows the keyword).
    void AnnounceKeywords(const Text& keptFlags);
    // Waits ms milliseconds, or less when the connection is closing (a server stop).
    void Pause(uint32_t ms);
    // Closes the selected folder and returns to the authenticated state.
    void Deselect();
    // Writes a line about this connection to the server's log (base/event_log.h).
    void Log(const std::string& text) const;
    // Why the connection ends, for its last line in the log, when the session knows it
    // (logout, a limit); the first reason given holds.
    void SetEndReason(const char* reason) {
        const char* none = nullptr;
        endReason.compare_exchange_strong(none, reason);
    }
    // For a literal that is refused: a client that waits for the continuation sends nothing
    // more; the bytes of one that does not wait are read and dropped with the rest of the
    // command, never run. After a marker without a valid size nothing can be trusted: the
    // connection ends after the answer.
    void RefuseLiteral(const LiteralMarker& marker);
    // Reads size input bytes without keeping them.
    void DropInput(uint32_t size);
    // Reads and drops the rest of a command whose line was just cut (tailOfCutLine: its end) or
    // ended: each further line as far as a literal marker at its end asks.
    void DropCommandRest(const Text& tailOfCutLine);

    // The session's context; commands read and change it.
    ClientChannel& channel;
    HostPort& host;
    const SessionSettings settings;
    const Mode mode;
    SessionState state = NotAuthenticated;
    bool readOnly = false;  // the selected folder was opened with EXAMINE
    // Extended mode: UTF-8 once the client sent ENABLE UTF8=ACCEPT (mailbox names and message
    // text), else 7-bit.
    TextForm textForm = TextForm::kMime;
    // Extended mode: modification sequences once the client enabled them (ENABLE CONDSTORE or
    // QRESYNC, or a command that uses them): every untagged FETCH that tells of a change of
    // flags then names the message's UID and modification sequence. Once QRESYNC is enabled,
    // removed messages are told of by UID in VANISHED instead of EXPUNGE.
    bool condStore = false;
    bool qresync = false;
    int loginFailures = 0;      // failed LOGINs on this connection
    uint32_t commandCount = 0;  // command lines run
    // Set on the connection's thread, or by the server's stop on another one.
    std::atomic<const char*> endReason{nullptr};
    CommandLine command;
    const UserRecord* user = nullptr;
    std::unique_ptr<MailStore> store;
    std::unique_ptr<Mailbox> selected;
    // Extended mode: the keywords of the selected folder the client was told of in FLAGS.
    FlagList keywords;

  private:
    // Extended mode: reads the command line and its literals ("{n}" at a line's end) into
    // *assembled. False when the command went past CommandLimit or a literal marker held no
    // valid size; the rest of the command has then been read and dropped (or the connection
    // is ending, when a client sent bytes whose count is unknown).
    bool ReadLiterals(const char* line, Text* assembled);

    bool completionPending_ = false;
    std::vector<std::function<void()>> afterAnswer_;
};

#endif  // ORV_IMAP_SESSION_H_
