#include "heat/fileWatch.h"

#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const unsigned kFolderEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                               IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
const unsigned kFileEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

FileWatch::~FileWatch() {
    if (fd_ >= 0) close(fd_);
}

bool FileWatch::start(const std::string& path) {
    path_ = path;
    if (fd_ < 0) fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return false;
    follow();
    return true;
}

// Walks the chain of links from the name to the file, watching the folder of
// every step; a step that does not exist yet is watched for by its folder.
void FileWatch::follow() {
    std::map<int, std::set<std::string>> names;
    int fileWd = -1;
    std::string at = path_;
    for (int hops = 0; hops < 40; ++hops) {
        const int folder = inotify_add_watch(fd_, folderOf(at).c_str(), kFolderEvents);
        if (folder >= 0) names[folder].insert(nameOf(at));
        struct stat info;
        if (lstat(at.c_str(), &info) != 0) break;
        if (!S_ISLNK(info.st_mode)) {
            fileWd = inotify_add_watch(fd_, at.c_str(), kFileEvents);
            break;
        }
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t n = readlink(at.c_str(), target.data(), PATH_MAX);
        if (n <= 0) break;
        const std::string link(target.data(), size_t(n));
        at = link[0] == '/' || folderOf(at) == "." ? link : folderOf(at) + "/" + link;
    }
    // What the name no longer leads through, such as a file renamed away,
    // must not count.
    for (const auto& entry : names_)
        if (!names.count(entry.first) && entry.first != fileWd) inotify_rm_watch(fd_, entry.first);
    if (fileWd_ >= 0 && fileWd_ != fileWd && !names.count(fileWd_)) inotify_rm_watch(fd_, fileWd_);
    names_.swap(names);
    fileWd_ = fileWd;
}

bool FileWatch::interesting(int wd, unsigned mask, const char* name) {
    if (mask & IN_Q_OVERFLOW) return true;
    if (mask & IN_IGNORED) return false;
    if (wd == fileWd_) {
        // Renamed away or deleted: what it holds from now on is not ours.
        if (mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
            inotify_rm_watch(fd_, fileWd_);
            fileWd_ = -1;
        }
        return true;
    }
    const auto folder = names_.find(wd);
    if (folder == names_.end()) return false;
    if (mask & (IN_DELETE_SELF | IN_MOVE_SELF)) return true;
    return name && folder->second.count(name);
}

bool FileWatch::saved() {
    if (fd_ < 0) return false;
    alignas(struct inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) break;  // EAGAIN: nothing (more) happened
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            at += ssize_t(sizeof(struct inotify_event) + event->len);
            const int wd = event->wd;
            const bool ownFile = wd == fileWd_;
            if (!interesting(wd, event->mask, event->len ? event->name : nullptr)) continue;
            pending_ = true;
            lastChange_ = now();
            // The file's own watch also hears it lose its name when a new
            // one is renamed over it, after the folder has said so; the
            // folder's events alone say whether the save has finished.
            if (ownFile && (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF))) continue;
            complete_ = (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0;
            writing_ = (event->mask & IN_MODIFY) != 0;
        }
    }
    if (!pending_ || (!complete_ && now() - lastChange_ < (writing_ ? kOpenWriterQuietSeconds : kQuietSeconds)))
        return false;
    pending_ = complete_ = writing_ = false;
    follow();
    return true;
}
