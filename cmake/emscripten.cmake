# Toolchain for the page: Emscripten's own CMake platform file, wherever the
# installed Emscripten keeps it (em-config tells).
execute_process(COMMAND em-config EMSCRIPTEN_ROOT OUTPUT_VARIABLE emscripten_root OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT EXISTS "${emscripten_root}/cmake/Modules/Platform/Emscripten.cmake")
  message(FATAL_ERROR "Emscripten não encontrado (no Debian: apt-get install emscripten)")
endif()
include("${emscripten_root}/cmake/Modules/Platform/Emscripten.cmake")
