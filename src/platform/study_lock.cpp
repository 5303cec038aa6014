// The study's claim on its folder, for each operating system.
#include "platform/study_lock.hpp"

#include "base/errors.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <sys/file.h>
#endif

namespace placatermo {

namespace {

[[noreturn]] void refuse_link(const std::filesystem::path& lock_file)
{
    throw FatalError("\"" + lock_file.string() +
                     "\" é um link simbólico: o estudo só trava a pasta num arquivo seu, nunca através de um link; "
                     "remova o link e rode de novo");
}

}  // namespace

#ifdef _WIN32

std::unique_ptr<StudyFolderLock> StudyFolderLock::try_claim(const std::filesystem::path& lock_file)
{
    std::error_code error;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(lock_file, error))) refuse_link(lock_file);
    // a link made since is opened itself, not followed
    HANDLE handle = CreateFileW(lock_file.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const DWORD opened = GetLastError();
    if (handle == INVALID_HANDLE_VALUE)
        fail_file("não foi possível criar", lock_file.string(),
                  std::error_code(static_cast<int>(opened), std::system_category()));
    const bool made = opened != ERROR_ALREADY_EXISTS;
    OVERLAPPED where{};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return nullptr;
        fail_file("não foi possível travar", lock_file.string(),
                  std::error_code(static_cast<int>(error), std::system_category()));
    }
    std::unique_ptr<StudyFolderLock> lock(new StudyFolderLock);
    lock->handle_ = handle;
    lock->made_the_file_ = made;
    return lock;
}

StudyFolderLock::~StudyFolderLock()
{
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

#else

std::unique_ptr<StudyFolderLock> StudyFolderLock::try_claim(const std::filesystem::path& lock_file)
{
    // not inherited by the programs the study starts: the lock ends with us;
    // made here or opened as it is, never through a link
    bool made = true;
    int descriptor = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (descriptor < 0 && errno == EEXIST) {
        made = false;
        descriptor = ::open(lock_file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    }
    if (descriptor < 0 && errno == ELOOP) refuse_link(lock_file);
    if (descriptor < 0) fail_file("não foi possível criar", lock_file.string(), errno);
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(descriptor);
        if (error == EWOULDBLOCK) return nullptr;
        fail_file("não foi possível travar", lock_file.string(), error);
    }
    std::unique_ptr<StudyFolderLock> lock(new StudyFolderLock);
    lock->descriptor_ = descriptor;
    lock->made_the_file_ = made;
    return lock;
}

StudyFolderLock::~StudyFolderLock()
{
    if (descriptor_ >= 0) ::close(descriptor_);
}

#endif

}  // namespace placatermo
