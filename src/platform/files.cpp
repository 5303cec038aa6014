#include "platform/files.hpp"

#include <cerrno>
#include <cwctype>
#include <optional>

#include "base/errors.hpp"
#include "platform/output_file.hpp"
#include "platform/stop_signals.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <sys/file.h>
#include <sys/stat.h>
#endif

namespace placatermo {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
std::optional<FileId> id_of_handle(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
    return FileId{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// The identity of an existing file (links followed); none when it does not
// exist or cannot be asked.
std::optional<FileId> file_id(const fs::path& name)
{
    const HANDLE handle = CreateFileW(name.wstring().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    const auto id = id_of_handle(handle);
    CloseHandle(handle);
    return id;
}

// Windows names: either separator, any case.
fs::path::string_type comparable(const fs::path& path)
{
    fs::path::string_type text = path.lexically_normal().make_preferred().native();
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return text;
}
#else
// With `follow`, the file a link leads to; without, the link itself.
std::optional<FileId> id_of(const fs::path& name, bool follow)
{
    struct stat info {};
    if ((follow ? stat(name.c_str(), &info) : lstat(name.c_str(), &info)) != 0) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::optional<FileId> file_id(const fs::path& name) { return id_of(name, true); }

fs::path::string_type comparable(const fs::path& path) { return path.lexically_normal().native(); }
#endif

// The absolute path a name for a file that does not exist yet leads to.
fs::path::string_type normal_form(const fs::path& name)
{
    std::error_code error;
    fs::path path = fs::absolute(name, error);
    if (error) path = name;
    path = resolve_links(path);
    const fs::path canonical = fs::weakly_canonical(path, error);
    return comparable(error ? path : canonical);
}

}  // namespace

#ifdef _WIN32
std::optional<FileId> entry_id(const fs::path& name)
{
    const HANDLE handle =
        CreateFileW(name.wstring().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    const auto id = id_of_handle(handle);
    CloseHandle(handle);
    return id;
}
#else
std::optional<FileId> entry_id(const fs::path& name) { return id_of(name, false); }
#endif

fs::path resolve_links(const fs::path& name)
{
    fs::path path = name;
    // as many links as the system itself follows
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error)) || error) break;
        const fs::path target = fs::read_symlink(path, error);
        if (error) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

bool same_file(const fs::path& a, const fs::path& b)
{
    const auto id_a = file_id(a), id_b = file_id(b);
    if (id_a || id_b) return id_a == id_b;
    return normal_form(a) == normal_form(b);
}

#ifdef _WIN32
namespace {

// The locked byte: far beyond any end of the file, so that nothing that
// reads or writes the file meets it.
OVERLAPPED lock_position()
{
    OVERLAPPED where{};
    where.Offset = 0xFFFFFFFEu;
    where.OffsetHigh = 0x7FFFFFFFu;
    return where;
}

}  // namespace

std::unique_ptr<FileLock> FileLock::try_lock(const fs::path& name)
{
    const HANDLE handle =
        CreateFileW(name.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD code = GetLastError();
    if (handle == INVALID_HANDLE_VALUE) {
        fail_file("não foi possível ler", name.string(),
                  std::error_code(static_cast<int>(code), std::system_category()));
    }
    std::unique_ptr<FileLock> lock(new FileLock);
    lock->native_ = reinterpret_cast<std::intptr_t>(handle);
    lock->created_ = code != ERROR_ALREADY_EXISTS;
    OVERLAPPED where = lock_position();
    // a file system without locks: the run goes on unlocked
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where) &&
        GetLastError() == ERROR_LOCK_VIOLATION)
        return nullptr;
    return lock;
}

FileLock::~FileLock()
{
    const auto handle = reinterpret_cast<HANDLE>(native_);
    OVERLAPPED where = lock_position();
    UnlockFileEx(handle, 0, 1, 0, &where);
    CloseHandle(handle);
}

bool FileLock::still_locks(const fs::path& name) const
{
    const auto held = id_of_handle(reinterpret_cast<HANDLE>(native_));
    return held && held == file_id(name);
}
#else
std::unique_ptr<FileLock> FileLock::try_lock(const fs::path& name)
{
    bool created = false, creating = false;
    int descriptor = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0 && errno == ENOENT) {
        creating = true;
        descriptor = open(name.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        created = descriptor >= 0;
        if (descriptor < 0 && errno == EEXIST) descriptor = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    }
    // worded as the reader's and the writer's messages
    if (descriptor < 0) fail_file(creating ? "não foi possível criar" : "não foi possível ler", name.string(), errno);
    std::unique_ptr<FileLock> lock(new FileLock);
    lock->native_ = descriptor;
    lock->created_ = created;
    while (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return nullptr;
        // a file system without locks: the run goes on unlocked
        if (errno != EINTR) break;
    }
    return lock;
}

FileLock::~FileLock() { close(static_cast<int>(native_)); }

bool FileLock::still_locks(const fs::path& name) const
{
    struct stat held {};
    if (fstat(static_cast<int>(native_), &held) != 0) return false;
    return file_id(name) == FileId{static_cast<std::uint64_t>(held.st_dev), static_cast<std::uint64_t>(held.st_ino)};
}
#endif

void write_file_atomically(const std::string& name, std::string_view bytes)
{
    const std::string partial = name + ".parcial";
    // nor does an end at a stop signal
    register_temporary_path(partial);
    try {
        OutputFile file(partial);
        file.write(bytes);
        file.close();
    } catch (const FatalError&) {
        // a write cut short (a full disk) leaves no piece behind
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        forget_temporary_path(partial);
        throw;
    }
    std::error_code error;
    std::filesystem::rename(partial, name, error);
    forget_temporary_path(partial);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        fail_file("não foi possível gravar", name, error);
    }
}

}  // namespace placatermo
