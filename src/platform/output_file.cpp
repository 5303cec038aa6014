#include "platform/output_file.hpp"

#include <cerrno>

#include "base/errors.hpp"

namespace placatermo {

OutputFile::OutputFile(std::string name) : name_(std::move(name))
{
    errno = 0;
    file_ = std::fopen(name_.c_str(), "wb");
    if (file_ == nullptr) fail_file("não foi possível criar", name_, errno);
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
}

OutputFile::~OutputFile()
{
    if (file_ != nullptr) std::fclose(file_);
}

void OutputFile::write(std::string_view bytes)
{
    if (bytes.empty()) return;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) fail_file("erro ao gravar", name_, errno);
}

void OutputFile::flush()
{
    errno = 0;
    if (std::fflush(file_) != 0) fail_file("erro ao gravar", name_, errno);
}

void OutputFile::flush_when_due()
{
    const auto now = std::chrono::steady_clock::now();
    if (now - last_flush_ < std::chrono::milliseconds(500)) return;
    flush();
    last_flush_ = now;
}

void OutputFile::close()
{
    if (file_ == nullptr) return;
    errno = 0;
    const bool flushed = std::fflush(file_) == 0;
    const int flush_error = errno;
    errno = 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed) fail_file("erro ao gravar", name_, flush_error);
    if (!closed) fail_file("erro ao fechar", name_, errno);
}

bool read_whole_file(const std::string& name, std::string& bytes)
{
    errno = 0;
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        if (errno == ENOENT) return false;
        fail_file("não foi possível ler", name, errno);
    }
    bytes.clear();
    char buffer[1 << 16];
    std::size_t got;
    errno = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    const int error_number = errno;
    std::fclose(file);
    if (failed) fail_file("erro ao ler", name, error_number);
    return true;
}

}  // namespace placatermo
