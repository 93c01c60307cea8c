# The window's texts are Chinese in the sources; each .ts file here translates them into one
# more language. The compiled .qm files are built into the program as resources under :/i18n.
set(QUILLORY_TS_FILES ${CMAKE_CURRENT_LIST_DIR}/quillory_en.ts)
# Every folder whose code shows text to the user.
set(QUILLORY_TRANSLATED_DIRS ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/platform/update)
set(QUILLORY_LUPDATE_OPTIONS -no-obsolete -locations none -tr-function-alias QT_TRANSLATE_NOOP+=DISPLAYED_TEXT)

function(quillory_add_translations target)
  set(sources)
  foreach(dir ${QUILLORY_TRANSLATED_DIRS})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
    list(APPEND sources ${found})
  endforeach()
  # "cmake --build build --target update_translations" brings the .ts files up to date.
  qt_add_translations(${target}
    TS_FILES ${QUILLORY_TS_FILES}
    SOURCES ${sources}
    RESOURCE_PREFIX /i18n
    LUPDATE_OPTIONS ${QUILLORY_LUPDATE_OPTIONS})
endfunction()
