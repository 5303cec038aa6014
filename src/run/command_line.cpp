// The program's options and its usage text, from one table.
#include "run/command_line.hpp"

#include <array>

#include "experiment/experiment.hpp"
#include "experiment/settings.hpp"
#include "platform/platform.hpp"

namespace placatermo {

namespace {

using Option = CommandOption<ProgramCommandLine>;
using enum OptionValue;
using enum OptionPlace;

bool take_setting(ProgramCommandLine& line, std::string_view text)
{
    const std::string given = argument_as_utf8(text);
    line.options.settings.push_back(input_setting(given, "--definir " + given));
    return true;
}

constexpr std::array<Option, 10> options = {{
    {"--batch", none, optional, "--batch", "--batch",
     "não abre o editor de texto no início nem no fim (para séries de execuções)",
     [](ProgramCommandLine& line, std::string_view) { return line.options.batch = true; }},
    {"--graficos", none, optional, "--graficos", "--graficos",
     "desenha também historico.png, campo.png e erro.png (com o gnuplot) e, com\n"
     "mais de uma malha, niveis.png (o resíduo de cada malha a cada ciclo)",
     [](ProgramCommandLine& line, std::string_view) { return line.options.pictures = true; }},
    {"--animacao", none, optional, "--animacao", "--animacao",
     "desenha também iteracoes.gif (com o gnuplot): a cada iteração externa (até uns\n"
     "100 quadros), o erro e o resíduo da malha mais fina, lado a lado",
     [](ProgramCommandLine& line, std::string_view) { return line.options.animation = true; }},
    {"--vtk", none, optional, "--vtk", "--vtk",
     "grava também o campo de temperaturas num arquivo VTK (para o ParaView),\n"
     "com o nome do arquivo de resultados e a extensão .vtk",
     [](ProgramCommandLine& line, std::string_view) { return line.options.vtk = true; }},
    {"--json", none, optional, "--json", "--json",
     "grava também o registro da execução em JSON, com todos os dígitos, com o\n"
     "nome do arquivo de resultados e a extensão .json",
     [](ProgramCommandLine& line, std::string_view) { return line.options.record = true; }},
    {"--multigrid=", joined, optional, "--multigrid=CICLO", "--multigrid=classico",
     "com mais de uma malha, um ciclo V de livro-texto (restrição pela soma dos\n"
     "quatro resíduos finos, interpolação bilinear entre os centros) em vez do\n"
     "ciclo especificado (--multigrid=especificado, o padrão); com\n"
     "--multigrid=rapido, esse ciclo V com os volumes fictícios atualizados depois\n"
     "de cada interpolação (menos com Jacobi) e metade das iterações internas em\n"
     "cada visita a uma malha grossa; o arquivo de resultados diz numa linha a mais\n"
     "qual ciclo rodou",
     [](ProgramCommandLine& line, std::string_view cycle) {
         line.options.cycle = cycle_from_name(cycle);
         return line.options.cycle.has_value();
     }},
    {"--definir", next, optional, "--definir R=V", "--definir R=V",
     "escreve o valor V no registro R do placatermo.ent antes de rodar (só o valor\n"
     "daquela linha muda); R é o número (1 a 16) ou o nome do registro (solver, cc,\n"
     "malhas, nx, ny, tolerancia, relaxacao_sor, titulo...), e o solver e a condição\n"
     "de contorno vão também por nome: --definir solver=msi --definir cc=senoidal;\n"
     "pode se repetir; um registro ou valor errado é recusado sem gravar nada",
     take_setting},
    {"estudo", none, command, "estudo PASTA --variar R=V1,V2,... [opções do estudo]", "estudo",
     "roda uma série de execuções que variam registros da entrada (em paralelo,\n"
     "ou num cluster Slurm) e monta a tabela PASTA/estudo.csv; as opções do estudo\n"
     "em placatermo estudo --help",
     [](ProgramCommandLine& line, std::string_view) { return line.study = true; }},
    {"--help", none, instead, "--help", "--help", "mostra este texto",
     [](ProgramCommandLine& line, std::string_view) { return line.help = true; }, "-h"},
    {"--version", none, instead, "--version", "--version", "mostra a versão do programa",
     [](ProgramCommandLine& line, std::string_view) { return line.version = true; }},
}};

std::string usage_text()
{
    std::string text = "Uso: placatermo";
    for (const auto& option : options)
        if (option.place == optional) text.append(" [").append(option.synopsis).append("]");
    for (const auto& option : options)
        if (option.place == instead) text.append(" | ").append(option.synopsis);
    text += '\n';
    for (const auto& option : options)
        if (option.place == command) text.append("     placatermo ").append(option.synopsis).append("\n");
    return text +
           "\n"
           "Resolve a difusão de calor bidimensional permanente numa placa retangular com os\n"
           "parâmetros do arquivo placatermo.ent do diretório atual (criado com valores padrão\n"
           "quando não existe), e grava os arquivos de resultados, Tx.dat, Ty.dat, Tx.gnu e Ty.gnu.\n"
           "\n" +
           option_list(program_options(), 10) + "\n";
}

}  // namespace

std::span<const CommandOption<ProgramCommandLine>> program_options() { return options; }

const std::string& program_usage_text()
{
    static const std::string text = usage_text();
    return text;
}

}  // namespace placatermo
