// File-system pieces of the engine: the private temporary folder, the single-instance lock,
// and publishing a finished file under its final name.
#pragma once

#include <string>

namespace qv::engine {

// The private folder for the engine's temporary files: made with mkdtemp (mode 0700) in
// $TMPDIR (default /tmp), emptied and removed by Remove() or the destructor.
class TempFolder {
  public:
    TempFolder() = default;
    ~TempFolder() { Remove(); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // False when no folder could be made; Path() then names a folder that does not exist,
    // so every temporary file operation fails (and the program goes on).
    bool Create(const std::string& parent = "");
    // With a trailing '/'.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + name; }
    bool Exists() const { return created_; }
    // Deletes every file in the folder and the folder itself.
    void Remove();

  private:
    std::string path_;
    bool created_ = false;
};

// The single-instance lock: an exclusive flock on "Quorvex.lock" in $XDG_RUNTIME_DIR, else
// on "Quorvex-<uid>.lock" in $TMPDIR (default /tmp). The kernel drops it when the process ends.
class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this process now holds the lock; false when another one does. A lock file that
    // cannot be made at all does not keep the program from running (true).
    bool Acquire();
    static std::string LockPath();

  private:
    int fd_ = -1;
};

// Pictures of the room and the logs are the user's alone, as the settings file is.
inline constexpr unsigned kPrivateFolderMode = 0700;
inline constexpr unsigned kPrivateFileMode = 0600;

// Appends bytes to a file, made with kPrivateFileMode when new; false on any failure.
bool AppendPrivate(const std::string& path, const std::string& bytes);

enum class PublishResult { Published, NameTaken, Failed };

// Copies src to folder/name (kPrivateFileMode) unless that name exists. The copy is written to a
// hidden temporary name in the same folder and linked to the final name only when complete, so a
// full disk or a crash never leaves a partial file under the final name. On Failed, *error
// (when given) gets the errno of the step that failed.
PublishResult PublishCopy(const std::string& src, const std::string& folder,
                          const std::string& name, int* error = nullptr);

// Copies src over dst through a temporary file in dst's folder (replacing dst).
bool CopyFileReplacing(const std::string& src, const std::string& dst);

// Size of a regular file, or -1.
long long FileSize(const std::string& path);

}  // namespace qv::engine
