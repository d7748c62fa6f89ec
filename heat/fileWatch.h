// Tells when a file has been saved, whatever way the editor saved it: in
// place, by renaming a new file over it, or by deleting and creating it.
// The name may be a symbolic link; the link, the file it points to and the
// folders holding both are watched, so saving either name counts.
#pragma once

#include <map>
#include <set>
#include <string>

class FileWatch {
public:
    FileWatch() = default;
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // False where the system offers no watch; saved() then never fires.
    bool start(const std::string& path);

    // Reads what has happened without blocking; nothing else when nothing
    // did. True once per save: at once when a writer closed the file or a new
    // one was renamed into place, otherwise once the file has been left alone
    // for a moment (a delete, a write still open, a new link). Each true
    // also follows the name again, since the save may have moved its target.
    bool saved();

    // How long a change that was not a close or a rename waits for quiet;
    // longer while a writer still holds the file open, which it may do
    // between the writes that make one save.
    static constexpr double kQuietSeconds = 0.25;
    static constexpr double kOpenWriterQuietSeconds = 2.0;

private:
    void follow();
    bool interesting(int wd, unsigned mask, const char* name);

    std::string path_;
    int fd_ = -1;
    int fileWd_ = -1;                         // the file the name ends at
    std::map<int, std::set<std::string>> names_;  // folder watch -> names that matter in it
    bool pending_ = false, complete_ = false, writing_ = false;
    double lastChange_ = 0;
};
