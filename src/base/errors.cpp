#include "base/errors.hpp"

#include <cerrno>

#include "base/text.hpp"

namespace placatermo {

namespace {

struct ErrorText {
    int number;
    const char* text;
};

// Every error a file, a folder, a lock or a child process can give. Some
// systems give two names one number (EAGAIN and EWOULDBLOCK): the first row
// of a number is the one used. The C library of Windows lacks some names.
constexpr ErrorText errno_texts[] = {
    {0, "erro de entrada/saída"},
    {ENOENT, "arquivo ou diretório inexistente"},
    {EACCES, "permissão negada"},
    {EPERM, "operação não permitida"},
    {EISDIR, "é um diretório"},
    {ENOTDIR, "um componente do caminho não é um diretório"},
    {ENOSPC, "não há espaço livre no dispositivo"},
#ifdef EDQUOT
    {EDQUOT, "cota de disco excedida"},
#endif
    {EROFS, "sistema de arquivos somente para leitura"},
    {EMFILE, "arquivos abertos demais"},
    {ENFILE, "arquivos abertos demais"},
    {ENAMETOOLONG, "nome de arquivo longo demais"},
    {EIO, "erro de entrada/saída"},
    {EFBIG, "arquivo grande demais"},
    {EEXIST, "já existe um arquivo com esse nome"},
    {ENOMEM, "memória insuficiente"},
    {EINVAL, "argumento inválido"},
    {EINTR, "chamada do sistema interrompida"},
#ifdef ELOOP
    {ELOOP, "ligações simbólicas demais no caminho"},
#endif
    {EXDEV,
     "a origem e o destino estão em sistemas de arquivos diferentes (outro disco ou partição), e um arquivo não "
     "pode ser movido de um para o outro"},
    {EBADF,
     "o arquivo não pode ser usado para esta operação (o nome é de um dispositivo, não de um arquivo comum?); "
     "escolha outro nome"},
    {EBUSY,
     "o arquivo ou a pasta está em uso por outro programa ou é um ponto de montagem; feche o programa que o "
     "usa e rode de novo"},
    {ENOTEMPTY, "a pasta não está vazia"},
#ifdef ETXTBSY
    {ETXTBSY, "o arquivo é um programa que está rodando agora; espere que ele termine ou escolha outro nome"},
#endif
    {ENXIO, "o dispositivo não existe ou não está conectado; verifique o disco ou escolha outro nome"},
    {ENODEV, "o dispositivo não existe ou não aceita esta operação; escolha um arquivo comum num disco"},
    {EPIPE, "o programa que lia os dados terminou antes de recebê-los"},
    {ESPIPE, "o nome é de um pipe ou de um dispositivo, que não se lê como arquivo comum; escolha outro nome"},
    {EAGAIN, "recurso do sistema temporariamente indisponível; rode de novo daqui a pouco"},
#ifdef EWOULDBLOCK
    {EWOULDBLOCK, "recurso do sistema temporariamente indisponível; rode de novo daqui a pouco"},
#endif
    {EFAULT, "endereço inválido numa chamada do sistema (falha do programa; informe os desenvolvedores)"},
#ifdef EOVERFLOW
    {EOVERFLOW, "o arquivo é grande demais para esta operação"},
#endif
    {EDEADLK, "a trava do arquivo causaria um impasse com outro programa; rode de novo"},
    {ENOLCK, "o sistema não tem travas de arquivo disponíveis (pasta de rede?)"},
    {ENOSYS, "operação que este sistema não oferece"},
#ifdef ENOTSUP
    {ENOTSUP, "operação que este sistema de arquivos não aceita (pasta de rede ou disco de outro sistema?)"},
#endif
#ifdef EOPNOTSUPP
    {EOPNOTSUPP, "operação que este sistema de arquivos não aceita (pasta de rede ou disco de outro sistema?)"},
#endif
    {EMLINK, "ligações demais para o mesmo arquivo ou pasta"},
    {ENOTTY, "operação imprópria para este tipo de arquivo"},
    {E2BIG, "a linha de comando é longa demais"},
    {ENOEXEC, "o arquivo não é um programa que este sistema possa executar"},
    {ECHILD, "o processo filho não existe mais"},
    {ESRCH, "o processo não existe mais"},
    {EILSEQ,
     "o nome tem caracteres que este sistema de arquivos não aceita; use só letras, números, ponto, hífen "
     "e sublinhado"},
    {ERANGE, "valor fora do intervalo aceito pelo sistema"},
    {EDOM, "valor fora do domínio aceito pelo sistema"},
#ifdef ETIMEDOUT
    {ETIMEDOUT, "o disco ou a pasta de rede não respondeu a tempo; verifique a conexão e rode de novo"},
#endif
#ifdef ECANCELED
    {ECANCELED, "operação cancelada"},
#endif
#ifdef ESTALE
    {ESTALE, "o arquivo de rede não vale mais (a pasta foi mudada no servidor); abra a pasta de novo e rode de novo"},
#endif
#ifdef ECONNRESET
    {ECONNRESET, "a conexão com o servidor de arquivos caiu; verifique a rede e rode de novo"},
#endif
#ifdef ECONNABORTED
    {ECONNABORTED, "a conexão com o servidor de arquivos caiu; verifique a rede e rode de novo"},
#endif
#ifdef ECONNREFUSED
    {ECONNREFUSED, "o servidor de arquivos recusou a conexão; verifique a rede e rode de novo"},
#endif
#ifdef ENOTCONN
    {ENOTCONN, "não há conexão com o servidor de arquivos; verifique a rede e rode de novo"},
#endif
#ifdef ENETDOWN
    {ENETDOWN, "a rede está fora do ar; verifique a conexão e rode de novo"},
#endif
#ifdef ENETUNREACH
    {ENETUNREACH, "a rede não pode ser alcançada; verifique a conexão e rode de novo"},
#endif
#ifdef EHOSTUNREACH
    {EHOSTUNREACH, "o servidor de arquivos não pode ser alcançado; verifique a rede e rode de novo"},
#endif
#ifdef EHOSTDOWN
    {EHOSTDOWN, "o servidor de arquivos está fora do ar; verifique a rede e rode de novo"},
#endif
#ifdef ENOLINK
    {ENOLINK, "a ligação com o servidor de arquivos caiu; verifique a rede e rode de novo"},
#endif
#ifdef EPROTO
    {EPROTO, "erro de protocolo com o servidor de arquivos; verifique a rede e rode de novo"},
#endif
#ifdef ENOBUFS
    {ENOBUFS, "o sistema está sem memória para a operação; feche outros programas e rode de novo"},
#endif
#ifdef ENOMEDIUM
    {ENOMEDIUM, "não há mídia na unidade; insira o disco e rode de novo"},
#endif
#ifdef EMEDIUMTYPE
    {EMEDIUMTYPE, "o tipo de mídia da unidade não serve para esta operação"},
#endif
#ifdef EREMOTEIO
    {EREMOTEIO, "erro de entrada/saída no servidor de arquivos; verifique a rede e rode de novo"},
#endif
#ifdef EUCLEAN
    {EUCLEAN, "o sistema de arquivos está danificado e precisa de reparo (fsck)"},
#endif
#ifdef ENOTBLK
    {ENOTBLK, "o dispositivo não é de blocos"},
#endif
#ifdef EBADFD
    {EBADFD, "o arquivo não pode ser usado para esta operação (estado inválido)"},
#endif
#ifdef ENOKEY
    {ENOKEY, "falta a chave para ler a pasta cifrada; desbloqueie-a e rode de novo"},
#endif
#ifdef ENOTNAM
    {ENOTNAM, "não é um arquivo com nome"},
#endif
};

// Win32 codes that a file operation can give, as the errno value of the same
// meaning (the Windows numbers are fixed: written here as numbers, so that
// the table is also checked on other systems).
struct WindowsErrno {
    unsigned long code;
    int number;
};
constexpr WindowsErrno windows_errnos[] = {
    {1, ENOSYS},          // ERROR_INVALID_FUNCTION
    {2, ENOENT},          // ERROR_FILE_NOT_FOUND
    {3, ENOENT},          // ERROR_PATH_NOT_FOUND
    {4, EMFILE},          // ERROR_TOO_MANY_OPEN_FILES
    {5, EACCES},          // ERROR_ACCESS_DENIED
    {6, EBADF},           // ERROR_INVALID_HANDLE
    {8, ENOMEM},          // ERROR_NOT_ENOUGH_MEMORY
    {12, EACCES},         // ERROR_INVALID_ACCESS
    {14, ENOMEM},         // ERROR_OUTOFMEMORY
    {15, ENODEV},         // ERROR_INVALID_DRIVE
    {16, EBUSY},          // ERROR_CURRENT_DIRECTORY
    {17, EXDEV},          // ERROR_NOT_SAME_DEVICE
    {19, EROFS},          // ERROR_WRITE_PROTECT
    {20, ENODEV},         // ERROR_BAD_UNIT
    {23, EIO},            // ERROR_CRC
    {25, EIO},            // ERROR_SEEK
    {29, EIO},            // ERROR_WRITE_FAULT
    {30, EIO},            // ERROR_READ_FAULT
    {31, EIO},            // ERROR_GEN_FAILURE
    {36, ENOLCK},         // ERROR_SHARING_BUFFER_EXCEEDED
    {38, EIO},            // ERROR_HANDLE_EOF
    {39, ENOSPC},         // ERROR_HANDLE_DISK_FULL
    {50, ENOSYS},         // ERROR_NOT_SUPPORTED
    {55, ENODEV},         // ERROR_DEV_NOT_EXIST
    {65, EACCES},         // ERROR_NETWORK_ACCESS_DENIED
    {80, EEXIST},         // ERROR_FILE_EXISTS
    {82, EACCES},         // ERROR_CANNOT_MAKE
    {87, EINVAL},         // ERROR_INVALID_PARAMETER
    {109, EPIPE},         // ERROR_BROKEN_PIPE
    {110, EIO},           // ERROR_OPEN_FAILED
    {111, ENAMETOOLONG},  // ERROR_BUFFER_OVERFLOW
    {112, ENOSPC},        // ERROR_DISK_FULL
    {131, EINVAL},        // ERROR_NEGATIVE_SEEK
    {145, ENOTEMPTY},     // ERROR_DIR_NOT_EMPTY
    {161, ENOENT},        // ERROR_BAD_PATHNAME
    {167, ENOLCK},        // ERROR_LOCK_FAILED
    {170, EBUSY},         // ERROR_BUSY
    {183, EEXIST},        // ERROR_ALREADY_EXISTS
    {206, ENAMETOOLONG},  // ERROR_FILENAME_EXCED_RANGE
    {223, EFBIG},         // ERROR_FILE_TOO_LARGE
    {232, EPIPE},         // ERROR_NO_DATA
    {267, ENOTDIR},       // ERROR_DIRECTORY
    {998, EFAULT},        // ERROR_NOACCESS
    {1117, EIO},          // ERROR_IO_DEVICE
    {1224, EBUSY},        // ERROR_USER_MAPPED_FILE
    {1314, EPERM},        // ERROR_PRIVILEGE_NOT_HELD
    {1392, EIO},          // ERROR_FILE_CORRUPT
    {1920, EACCES},       // ERROR_CANT_ACCESS_FILE
    {1921, ELOOP},        // ERROR_CANT_RESOLVE_FILENAME
};

// Win32 codes with no errno of the same meaning.
struct WindowsText {
    unsigned long code;
    const char* text;
};
constexpr WindowsText windows_texts[] = {
    {21, "a unidade não está pronta (um disco removível sem mídia?); verifique a unidade e rode de novo"},
    {32, "o arquivo está aberto em outro programa; feche-o e rode de novo"},              // ERROR_SHARING_VIOLATION
    {33, "o arquivo está travado por outro programa; feche-o e rode de novo"},            // ERROR_LOCK_VIOLATION
    {34, "o disco na unidade não é o esperado; insira o disco certo e rode de novo"},     // ERROR_WRONG_DISK
    {53, "o caminho de rede não foi encontrado; verifique a rede e o nome do servidor"},  // ERROR_BAD_NETPATH
    {64, "a conexão com o servidor de arquivos caiu; verifique a rede e rode de novo"},   // ERROR_NETNAME_DELETED
    {67, "a pasta de rede não foi encontrada; verifique o nome do compartilhamento"},     // ERROR_BAD_NET_NAME
    {121, "o disco ou a pasta de rede não respondeu a tempo; verifique a conexão e rode de novo"},  // ERROR_SEM_TIMEOUT
    {123,
     "o nome do arquivo, da pasta ou da unidade não é válido no Windows; escolha outro nome"},  // ERROR_INVALID_NAME
    {225, "o antivírus bloqueou o arquivo"},                                                    // ERROR_VIRUS_INFECTED
    {303, "o arquivo está sendo apagado por outro programa; rode de novo daqui a pouco"},       // ERROR_DELETE_PENDING
    {740, "a operação exige os direitos de administrador"},  // ERROR_ELEVATION_REQUIRED
    {995, "operação cancelada"},                             // ERROR_OPERATION_ABORTED
    {1295, "cota de disco excedida"},                        // ERROR_DISK_QUOTA_EXCEEDED
};

// For an error none of the tables knows: still what to check.
std::string unknown_error_text(const std::string& code)
{
    return "falha inesperada do sistema (código " + code +
           "); verifique se o disco está acessível e tem espaço livre, e se a pasta e o arquivo podem ser gravados";
}

}  // namespace

std::string system_error_text(int error_number)
{
    for (const auto& row : errno_texts)
        if (row.number == error_number) return row.text;
    return unknown_error_text(std::to_string(error_number));
}

std::string windows_error_text(unsigned long code)
{
    for (const auto& row : windows_texts)
        if (row.code == code) return row.text;
    for (const auto& row : windows_errnos)
        if (row.code == code) return system_error_text(row.number);
    return unknown_error_text("do Windows " + std::to_string(code));
}

std::string system_error_text(const std::error_code& error)
{
#ifdef _WIN32
    // std::filesystem gives GetLastError's codes in the system category
    if (error.category() == std::system_category())
        return windows_error_text(static_cast<unsigned long>(error.value()));
#endif
    if (error.category() == std::generic_category() || error.category() == std::system_category())
        return system_error_text(error.value());
    const std::error_condition condition = error.default_error_condition();
    if (condition.category() == std::generic_category()) return system_error_text(condition.value());
    return unknown_error_text(std::string(error.category().name()) + " " + std::to_string(error.value()));
}

void fail_file(std::string_view action, std::string_view file_name, int error_number)
{
    throw FatalError(std::string(action) + " o arquivo \"" + cp1252_to_utf8(file_name) +
                     "\": " + system_error_text(error_number));
}

void fail_file(std::string_view action, std::string_view file_name, const std::error_code& error)
{
    throw FatalError(std::string(action) + " o arquivo \"" + cp1252_to_utf8(file_name) +
                     "\": " + system_error_text(error));
}

}  // namespace placatermo
