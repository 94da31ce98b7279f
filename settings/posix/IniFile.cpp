#include "settings/IniFile.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<unsigned> tempCounter{0};

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

std::string IniWriteTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string resolved = real;
            std::free(real);
            return resolved;
        }
    }
    return path;
}

IniTargetKind IniTargetKindOf(const std::string& target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) return IniTargetKind::Missing;
    return S_ISREG(st.st_mode) ? IniTargetKind::Regular : IniTargetKind::Other;
}

IniReplacement::IniReplacement(const std::string& target) : target_(target) {
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    const std::string dir = DirectoryOf(target);
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp_ = dir + "/." + target.substr(target.rfind('/') + 1) + "." +
                std::to_string(::getpid()) + "." + std::to_string(tempCounter++) + ".tmp";
        fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return;
    handle_ = fd;
    if (!exists) return;
    (void)!::fchown(fd, st.st_uid, st.st_gid); // best effort
    if (::fchmod(fd, st.st_mode & 07777) != 0) {
        ::close(fd);
        ::unlink(temp_.c_str());
        handle_ = kClosed;
    }
}

IniReplacement::~IniReplacement() {
    if (Valid()) ::close(int(handle_));
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

bool IniReplacement::Write(const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(int(handle_), data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool IniReplacement::Commit() {
    bool ok = ::fsync(int(handle_)) == 0;
    ok = ::close(int(handle_)) == 0 && ok;
    handle_ = kClosed;
    if (!ok || ::rename(temp_.c_str(), target_.c_str()) != 0) return false;
    committed_ = true;
    // Make the rename itself durable; the new content is complete either way.
    const int dir = ::open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
