#include "base/FileAccess.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ReadOnlyFile::ReadOnlyFile(const std::string& path) {
    // O_NONBLOCK keeps a FIFO under the name from hanging the caller; only plain files count.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return;
    }
    handle_ = fd;
    size_ = int64_t(status.st_size);
}

ReadOnlyFile::~ReadOnlyFile() {
    if (IsOpen()) ::close(int(handle_));
}

int64_t ReadOnlyFile::Read(void* buffer, size_t size) {
    if (!IsOpen()) return -1;
    for (;;) {
        const ssize_t got = ::read(int(handle_), buffer, size);
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

int64_t ReadOnlyFile::ReadAt(void* buffer, size_t size, uint64_t offset) {
    if (!IsOpen()) return -1;
    for (;;) {
        const ssize_t got = ::pread(int(handle_), buffer, size, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool WriteOwnerOnlyFile(const std::string& path, const std::string& bytes) {
    // O_EXCL: never through a link or over a file someone else made first; the mode is the
    // file's from its creation, so no other user can open it in between.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0; // as asked, whatever the umask or a default ACL made
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        ok = put > 0;
        if (ok) done += size_t(put);
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) ::unlink(path.c_str());
    return ok;
}
