// Files as the operating system knows them: whether two names lead to one
// file, and the lock with which a run keeps a second one out of its folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace placatermo {

// A file as the system knows it: its device and its number there.
struct FileId {
    std::uint64_t device = 0, number = 0;
    bool operator==(const FileId&) const = default;
};

// The identity of the entry a name leads to, a symbolic link itself rather
// than its target; none when there is no such entry.
std::optional<FileId> entry_id(const std::filesystem::path& name);

// The name with every symbolic link along it followed, a dangling one too
// (its target is the file that writing through it would create).
std::filesystem::path resolve_links(const std::filesystem::path& name);

// Whether two names designate one file: the same existing file (device and
// file number, whatever links or spellings lead to it), or, for files that do
// not exist yet, the same absolute path once links are followed and "." and
// ".." resolved; on Windows regardless of case, "\" and "/" alike.
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

// An exclusive lock on a file, held while the object lives and released by the
// system however the process ends, so no lock file is ever left behind: flock
// on POSIX systems, LockFileEx on Windows (on a byte far beyond the file's end,
// so that an editor can still write the file). The file is never written.
class FileLock {
public:
    // Opens the file (created empty when missing) and locks it without
    // waiting; nullptr when another process holds the lock. On a file system
    // that has no locks the file is only opened. A file that cannot be read
    // or created ends the run with a message naming it.
    static std::unique_ptr<FileLock> try_lock(const std::filesystem::path& name);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Whether the lock's open call created the file.
    bool created() const { return created_; }
    // Whether the name still designates the locked file (an editor may save
    // by writing a new file in its place).
    bool still_locks(const std::filesystem::path& name) const;

private:
    FileLock() = default;
    std::intptr_t native_ = -1;  // the file descriptor, or the Windows handle
    bool created_ = false;
};

// Writes `bytes` to `name` through a temporary file beside it and a rename:
// a reader sees the old file or the whole new one, never a part.
void write_file_atomically(const std::string& name, std::string_view bytes);

}  // namespace placatermo
