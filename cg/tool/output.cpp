#include "cg/tool/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace cgtool {
namespace {

bool fail(std::string* why) {
    *why = std::strerror(errno);
    return false;
}

bool writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

// The path at the end of `path`'s chain of symbolic links; a link that names
// nothing yet gives the path it names, where the file will be created.
bool followLinks(std::string path, std::string* out) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            *out = path;
            return true;
        }
        std::vector<char> target(std::size_t(st.st_size > 0 ? st.st_size : 4095) + 1);
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return false;
        if (std::size_t(n) == target.size()) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::string next(target.data(), std::size_t(n));
        const std::size_t slash = path.rfind('/');
        if (next[0] != '/' && slash != std::string::npos) next = path.substr(0, slash + 1) + next;
        path = next;
    }
    errno = ELOOP;
    return false;
}

// Devices, pipes and the like cannot be replaced, and must not be: written in place.
bool writeInPlace(const std::string& path, const std::string& text, std::string* why) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return fail(why);
    bool ok = writeAll(fd, text);
    int saved = errno;
    if (::close(fd) != 0 && ok) ok = false, saved = errno;
    errno = saved;
    return ok || fail(why);
}

bool writeReplacing(const std::string& target, const struct stat* existing, const std::string& text,
                    std::string* why) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = folder + "." + base + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return fail(why);
    // The file keeps its permissions; a new one gets what the umask allows.
    mode_t mode = 0;
    if (existing) {
        mode = existing->st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) ok = false, saved = errno;
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) ok = false, saved = errno;
    if (ok) return true;
    ::unlink(temporary.c_str());
    errno = saved;
    return fail(why);
}

}  // namespace

bool sameFile(const std::string& input, const std::string& output) {
    if (output == "-") return false;
    struct stat in, out;
    const int read = input == "-" ? ::fstat(0, &in) : ::stat(input.c_str(), &in);
    return read == 0 && ::stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

bool writeOutput(const std::string& path, const std::string& text, std::string* why) {
    if (path == "-") {
        // Written at once and flushed, so a full disk or a closed pipe is told here.
        errno = 0;
        const bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
        if (!ok && errno == 0) errno = EIO;
        return ok || fail(why);
    }
    std::string target;
    if (!followLinks(path, &target)) return fail(why);
    struct stat st;
    if (::stat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) return fail(why);
        return writeReplacing(target, nullptr, text, why);
    }
    if (!S_ISREG(st.st_mode)) return writeInPlace(target, text, why);
    return writeReplacing(target, &st, text, why);
}

}  // namespace cgtool
