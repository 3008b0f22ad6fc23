# Writes the version header at build time: the project's version, and the git description when the
# sources are a checkout (so a rebuild after a commit or an edit says so). Rewritten only on change.
# In: SOURCE_DIR, OUTPUT, VERSION.
set(describe "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" describe --always --dirty --tags
                  WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE describe
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
set(text "#define SFX_VERSION \"${VERSION}\"\n#define SFX_GIT_DESCRIBE \"${describe}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE "${OUTPUT}" "${text}")
endif()
