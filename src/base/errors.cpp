#include "base/errors.hpp"

#include <cerrno>

#include "base/text.hpp"

namespace placatermo {

std::string system_error_text(int error_number)
{
    switch (error_number) {
    case ENOENT: return "arquivo ou diretório inexistente";
    case EACCES: return "permissão negada";
    case EPERM: return "operação não permitida";
    case EISDIR: return "é um diretório";
    case ENOTDIR: return "um componente do caminho não é um diretório";
    case ENOSPC: return "não há espaço livre no dispositivo";
#ifdef EDQUOT
    case EDQUOT: return "cota de disco excedida";
#endif
    case EROFS: return "sistema de arquivos somente para leitura";
    case EMFILE:
    case ENFILE: return "arquivos abertos demais";
    case ENAMETOOLONG: return "nome de arquivo longo demais";
    case EIO: return "erro de entrada/saída";
    case EFBIG: return "arquivo grande demais";
    case EEXIST: return "já existe um arquivo com esse nome";
    case ENOMEM: return "memória insuficiente";
    case EINVAL: return "argumento inválido";
    case EINTR: return "chamada do sistema interrompida";
#ifdef ELOOP
    case ELOOP: return "ligações simbólicas demais no caminho";
#endif
    case 0: return "erro de entrada/saída";
    default: return "erro do sistema número " + std::to_string(error_number);
    }
}

void fail_file(std::string_view action, std::string_view file_name, int error_number)
{
    throw FatalError(std::string(action) + " o arquivo \"" + cp1252_to_utf8(file_name) +
                     "\": " + system_error_text(error_number));
}

}  // namespace placatermo
