#include "cg/front/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cgc {

namespace {

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

std::string tooLarge() { return "it is larger than " + std::to_string(kMaxSourceBytes >> 20) + " MiB"; }

}  // namespace

bool readSourceFile(const std::string& path, std::string* text, std::string* error) {
    text->clear();
    // O_NONBLOCK: opening a FIFO without a writer, or a device, must not
    // wait; fstat then tells what was opened before anything is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        *error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = std::string("it is not a regular file (") + kindOf(st.st_mode) + ")";
        ::close(fd);
        return false;
    }
    if (std::size_t(st.st_size) > kMaxSourceBytes) {
        *error = tooLarge();
        ::close(fd);
        return false;
    }
    text->reserve(std::size_t(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = std::strerror(errno);
            ::close(fd);
            text->clear();
            return false;
        }
        if (n == 0) break;
        text->append(buffer, std::size_t(n));
        if (text->size() > kMaxSourceBytes) {  // it grew while being read
            *error = tooLarge();
            ::close(fd);
            text->clear();
            return false;
        }
    }
    ::close(fd);
    return true;
}

}  // namespace cgc
