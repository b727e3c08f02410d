#include "app/engine/Files.h"
#include "platform/file/Owners.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qv::engine {
namespace {

std::string TempParent(const std::string& parent) {
    if (!parent.empty()) return parent;
    const char* tmp = std::getenv("TMPDIR");
    return (tmp && *tmp) ? tmp : "/tmp";
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// Copies every byte of the open file in to out; false on any read or write failure.
bool CopyFd(int in, int out) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            done += put;
        }
    }
}

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// Writes a complete copy of src to a fresh hidden file in folder; its path, or "" on failure
// (then nothing is left behind).
std::string CopyToHiddenTemp(const std::string& src, const std::string& folder) {
    UniqueFd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return "";
    std::string pattern = WithSlash(folder) + ".qvpart-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    UniqueFd out(::mkostemp(name.data(), O_CLOEXEC));
    if (!out) return "";
    ::fchmod(out.get(), kPrivateFileMode);
    bool ok = CopyFd(in.get(), out.get());
    ok = ::fsync(out.get()) == 0 && ok;
    int fd = out.release();
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        const int why = errno;  // the caller reports the write's error, not the clean-up's
        ::unlink(name.data());
        errno = why;
        return "";
    }
    return std::string(name.data());
}

}  // namespace

bool TempFolder::Create(const std::string& parent) {
    Remove();
    std::string pattern = WithSlash(TempParent(parent)) + "qvXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        path_ = WithSlash(TempParent(parent)) + "qv-unavailable/";
        created_ = false;
        return false;
    }
    path_ = WithSlash(name.data());
    created_ = true;
    return true;
}

void TempFolder::Remove() {
    if (!created_) return;
    if (DIR* dir = ::opendir(path_.c_str())) {
        std::vector<std::string> names;
        while (dirent* entry = ::readdir(dir)) {
            std::string n = entry->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(dir);
        for (const auto& n : names) ::unlink((path_ + n).c_str());
    }
    ::rmdir(path_.c_str());
    created_ = false;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

std::string InstanceLock::LockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return WithSlash(runtime) + "Quorvex.lock";
    return WithSlash(TempParent("")) + "Quorvex-" + std::to_string(::getuid()) + ".lock";
}

bool InstanceLock::Acquire() {
    if (fd_ >= 0) return true;
    int fd = ::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return !busy;
    }
    fd_ = fd;
    return true;
}

PublishResult PublishCopy(const std::string& src, const std::string& folder,
                          const std::string& name, int* error) {
    std::string target = WithSlash(folder) + name;
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) return PublishResult::NameTaken;
    auto failed = [error] {
        if (error) *error = errno;
        return PublishResult::Failed;
    };
    std::string temp = CopyToHiddenTemp(src, folder);
    if (temp.empty()) return failed();
    // link() refuses an existing name, as a copy that must not overwrite.
    PublishResult result = PublishResult::Published;
    if (::link(temp.c_str(), target.c_str()) != 0) {
        if (errno == EEXIST) {
            result = PublishResult::NameTaken;
        } else if (errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP || errno == EXDEV) {
            // Folders without hard links: rename is atomic too, the name test just above.
            if (::lstat(target.c_str(), &st) == 0) {
                result = PublishResult::NameTaken;
            } else if (::rename(temp.c_str(), target.c_str()) == 0) {
                return PublishResult::Published;
            } else {
                result = failed();
            }
        } else {
            result = failed();
        }
    }
    ::unlink(temp.c_str());
    return result;
}

bool AppendPrivate(const std::string& path, const std::string& bytes) {
    UniqueFd out(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kPrivateFileMode));
    if (!out) return false;
    for (size_t done = 0; done < bytes.size();) {
        ssize_t put = ::write(out.get(), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

bool CopyFileReplacing(const std::string& src, const std::string& dst) {
    std::string temp = CopyToHiddenTemp(src, FolderOf(dst));
    if (temp.empty()) return false;
    if (::rename(temp.c_str(), dst.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

long long FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

}  // namespace qv::engine
