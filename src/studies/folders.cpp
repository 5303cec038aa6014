// The study's folders: its claim on the study folder, and the run folders
// it writes only where it made them.
#include <system_error>

#include "base/errors.hpp"
#include "base/text.hpp"
#include "platform/output_file.hpp"
#include "studies/study_parts.hpp"

namespace placatermo {

using namespace study_parts;

bool stays_in_run_folder(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string_view::npos;
}

namespace study_parts {

void write_run_folder(const std::vector<StudyVariation>& variations, const StudyRun& run, const std::string& base,
                      const InputParameters& base_parameters)
{
    std::vector<std::pair<int, std::string>> values;
    for (std::size_t v = 0; v < variations.size(); ++v)
        if (variations[v].record != 0) values.emplace_back(variations[v].record, run.values[v]);
    namespace fs = std::filesystem;
    // the study writes only into folders and files it made: never through a
    // link (into another run's folder, or out of the study), nor into a fifo
    // or a device (whose opening would wait for ever)
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(run.folder, error)))
        throw FatalError("a pasta da execução \"" + run.folder.string() +
                         "\" é um link simbólico: o estudo não grava através dele; remova-o e rode de novo");
    fs::create_directories(run.folder);
    for (const auto& entry : fs::directory_iterator(run.folder)) {
        const fs::file_status kind = entry.symlink_status();
        if (!fs::is_regular_file(kind) && !fs::is_directory(kind))
            throw FatalError("\"" + entry.path().string() +
                             "\" não é um arquivo comum nem uma pasta (um link, um fifo...): o estudo não grava "
                             "através dele; remova-o e rode de novo");
    }
    OutputFile file((run.folder / std::string(input_file_name)).string());
    file.write(replace_records(base, base_parameters, values));
    file.close();
}

std::string file_system_message(const std::filesystem::filesystem_error& error)
{
    std::string text = "operação de arquivos falhou";
    if (!error.path1().empty()) text += " em \"" + error.path1().string() + "\"";
    return text + ": " + system_error_text(error.code());
}

std::unique_ptr<StudyFolderLock> claim_study_folder(const std::filesystem::path& folder, bool fresh,
                                                    const std::function<void()>& fill)
{
    namespace fs = std::filesystem;
    // a refused study takes back what it made: the lock file and the folder
    // (never the user's: `estudo ..` or `estudo /` leave nothing behind)
    std::error_code error;
    std::vector<fs::path> folders_made;  // the deepest first
    if (fresh) {
        for (fs::path made = folder; !made.empty() && !fs::exists(fs::symlink_status(made, error));
             made = made.parent_path())
            folders_made.push_back(made);
    }
    std::unique_ptr<StudyFolderLock> claim;
    try {
        if (fresh) fs::create_directories(folder);
        // one study at a time in a folder, for as long as it works there
        claim = StudyFolderLock::try_claim(folder / std::string(study_lock_file));
        if (!claim)
            throw FatalError("a pasta \"" + folder.string() +
                             "\" está em uso por outro estudo (rodando agora): espere que ele termine ou escolha "
                             "outra pasta");
        if (fresh) {
            for (const auto& entry : fs::directory_iterator(folder))
                if (entry.path().filename() != std::string(study_lock_file))
                    throw FatalError("a pasta \"" + folder.string() +
                                     "\" já tem arquivos: escolha outra pasta, ou use --continuar para completar o "
                                     "estudo que ela tem, ou --coletar para montar a tabela das execuções que ela "
                                     "tem");
        }
        fill();
    } catch (...) {
        std::error_code ignored;
        if (claim && claim->made_the_file()) fs::remove(folder / std::string(study_lock_file), ignored);
        claim.reset();
        for (const auto& made : folders_made) fs::remove(made, ignored);  // only while empty
        throw;
    }
    return claim;
}

}  // namespace study_parts

}  // namespace placatermo
