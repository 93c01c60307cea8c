# Build settings every target of the project shares, and the layered libraries under src/.

# Warnings for our own code, sanitizers and fuzzer coverage when those builds are asked for.
function(quillory_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(QUILLORY_SANITIZE)
    target_compile_options(${target} PRIVATE
      -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(QUILLORY_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# quillory_layer(<target> <folder> SOURCES <files...> [LINK <libraries...>])
# A static library built from src/<folder>. Its users include its headers as "<folder>/X.h", and
# it sees only its own folder and those of the libraries it links: a header of a higher layer is
# simply not found, so the build fails on an upward include.
function(quillory_layer target folder)
  cmake_parse_arguments(LAYER "" "" "SOURCES;LINK" ${ARGN})
  add_library(${target} STATIC ${LAYER_SOURCES})
  set(view ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${view})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${view}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${view})
  target_link_libraries(${target} PUBLIC ${LAYER_LINK})
  quillory_target_defaults(${target})
endfunction()
