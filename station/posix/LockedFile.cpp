#include "station/LockedFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace station {

namespace {
std::string Reason(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}
} // namespace

struct LockedFile::Impl {
    int Fd = -1;
};

LockedFile::LockedFile() : impl_(std::make_unique<Impl>()) {}

LockedFile::~LockedFile() {
    if (impl_->Fd >= 0) close(impl_->Fd);
}

bool LockedFile::Open(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = Reason("cannot open");
        return false;
    }
    if (impl_->Fd >= 0) close(impl_->Fd);
    impl_->Fd = fd;
    return true;
}

bool LockedFile::IsOpen() const {
    return impl_->Fd >= 0;
}

bool LockedFile::Lock(std::string& error) {
    while (flock(impl_->Fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        error = Reason("cannot lock");
        return false;
    }
    return true;
}

void LockedFile::Unlock() {
    flock(impl_->Fd, LOCK_UN);
}

bool LockedFile::Size(uint64_t& size, std::string& error) {
    struct stat status {};
    if (fstat(impl_->Fd, &status) != 0) {
        error = Reason("cannot read");
        return false;
    }
    size = uint64_t(status.st_size);
    return true;
}

bool LockedFile::ReadAt(uint64_t offset, size_t count, std::string& out, std::string& error) {
    out.resize(count);
    size_t done = 0;
    while (done < count) {
        const ssize_t got = pread(impl_->Fd, out.data() + done, count - done, off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = Reason("cannot read");
            return false;
        }
        if (got == 0) break;
        done += size_t(got);
    }
    out.resize(done);
    return true;
}

bool LockedFile::Append(const std::string& data, std::string& error) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t wrote = write(impl_->Fd, data.data() + done, data.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            error = Reason("cannot write");
            return false;
        }
        done += size_t(wrote);
    }
    return true;
}

bool LockedFile::Truncate(uint64_t size) {
    return ftruncate(impl_->Fd, off_t(size)) == 0;
}

bool LockedFile::Sync(std::string& error) {
    if (fsync(impl_->Fd) == 0) return true;
    error = Reason("cannot write to the disk");
    return false;
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

} // namespace station
