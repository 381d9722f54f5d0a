// FolderFacts: the message cache's facts about a folder's message files, kept on disk in the
// folder's own "Imap4.cache", so that what the server learned survives a restart of the host.
// The file is read into the cache once per process, at the first FETCH in the folder; each fact
// still holds only under its file's stamp, so nothing stale is ever served from it. It is
// replaced whole (new file, then rename) after a FETCH that learned something, at most every
// kSaveInterval seconds per folder, and at stop for every folder with facts not yet written. A
// file lost or damaged only costs the parsing again.
#ifndef ORV_STORE_FOLDER_FACTS_H_
#define ORV_STORE_FOLDER_FACTS_H_

#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "store/message_cache.h"

class FolderFacts {
  public:
    // The least time between two writes of one folder's file.
    static constexpr int kSaveInterval = 10;

    explicit FolderFacts(MessageCache& cache);
    ~FolderFacts();
    FolderFacts(const FolderFacts&) = delete;
    FolderFacts& operator=(const FolderFacts&) = delete;

    // The process's folder files, over the shared cache.
    static FolderFacts& Shared();

    // directory: the folder's directory path, ending with its separator (empty: nothing done).
    // Reads the folder's file into the cache, the first time for the folder.
    void Load(const Text& directory);
    // Notes that the cache learned facts of the folder's files, and writes its file unless it
    // was written less than kSaveInterval seconds ago (or now is true: at once).
    void Learned(const Text& directory, bool now = false);
    // Writes the file of every folder whose facts are not all written yet.
    void SaveAll();

    // The text of a folder's file for the records, and the records read back from one (a
    // damaged end is dropped).
    static std::string Format(const std::vector<MessageCache::Record>& records);
    static std::vector<MessageCache::Record> Parse(const std::string& text);

  private:
    struct Folder;
    // Writes the folder's file from the cache and notes it written; the state's lock is held.
    void Save(const std::string& directory, Folder* folder);

    MessageCache& cache_;
    struct State;
    std::unique_ptr<State> state_;
};

#endif  // ORV_STORE_FOLDER_FACTS_H_
