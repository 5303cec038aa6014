// The claim of a study on its folder: an operating-system lock on a file in
// the folder (flock on POSIX systems, LockFileEx on Windows), held while the
// object lives. The system drops it when the process ends, however it ends.
// The lock file is never reached through a symbolic link: a link there would
// make (or lock) a file outside the folder.
#pragma once

#include <filesystem>
#include <memory>

namespace placatermo {

class StudyFolderLock {
public:
    // Takes the lock on `lock_file` (created when missing); nullptr when
    // another process (or another claim of this one) holds it. A link in its
    // place, or any other failure, ends with a FatalError naming the file.
    static std::unique_ptr<StudyFolderLock> try_claim(const std::filesystem::path& lock_file);
    ~StudyFolderLock();
    // Whether this claim made the file (a refused study takes it back).
    bool made_the_file() const { return made_the_file_; }
    StudyFolderLock(const StudyFolderLock&) = delete;
    StudyFolderLock& operator=(const StudyFolderLock&) = delete;

private:
    StudyFolderLock() = default;
    bool made_the_file_ = false;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int descriptor_ = -1;
#endif
};

}  // namespace placatermo
