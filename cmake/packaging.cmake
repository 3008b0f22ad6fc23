# Installing and packaging (host builds): bin/sfxpack, the stubs and the MSI runners in share/sfxstub (where sfxpack
# looks for its default stub, relative to itself), the man page, bash completion and the Debian
# documents; cpack makes a .deb and a .tar.gz, the tarball with the static Windows sfxpack.exe in
# windows/. The Windows programs come from the sibling build trees, or from the paths given here.
set(SFX_INSTALL_STUB "${CMAKE_BINARY_DIR}/../win32/sfxstub.exe" CACHE FILEPATH
    "The 32-bit stub to install as share/sfxstub/sfxstub.exe")
set(SFX_INSTALL_STUB64 "${CMAKE_BINARY_DIR}/../win64/sfxstub.exe" CACHE FILEPATH
    "The 64-bit stub to install as share/sfxstub/sfxstub64.exe")
set(SFX_INSTALL_MSIRUNNER "${CMAKE_BINARY_DIR}/../win32/msirunner.exe" CACHE FILEPATH
    "The 32-bit MSI runner to install as share/sfxstub/msirunner.exe")
set(SFX_INSTALL_MSIRUNNER64 "${CMAKE_BINARY_DIR}/../win64/msirunner.exe" CACHE FILEPATH
    "The 64-bit MSI runner to install as share/sfxstub/msirunner64.exe")
set(SFX_WINDOWS_SFXPACK "${CMAKE_BINARY_DIR}/../win64/tools/sfxpack/sfxpack.exe" CACHE FILEPATH
    "The static Windows sfxpack.exe the tarball carries in windows/")

# Debian wants documents compressed, reproducibly.
function(sfx_gzip source output)
  add_custom_command(OUTPUT ${output} COMMAND gzip -9n -c ${source} > ${output} DEPENDS ${source} VERBATIM)
endfunction()
set(packaging_dir ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_dir})
sfx_gzip(${PROJECT_SOURCE_DIR}/tools/sfxpack/sfxpack.1 ${packaging_dir}/sfxpack.1.gz)
sfx_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${packaging_dir}/changelog.gz)
add_custom_target(sfx_packaging_docs ALL DEPENDS ${packaging_dir}/sfxpack.1.gz ${packaging_dir}/changelog.gz)

# bin and share are fixed: the tool finds its stub at ../share/sfxstub from its own folder.
install(TARGETS sfxpack RUNTIME DESTINATION bin)
install(FILES ${SFX_INSTALL_STUB} DESTINATION share/sfxstub RENAME sfxstub.exe)
install(FILES ${SFX_INSTALL_STUB64} DESTINATION share/sfxstub RENAME sfxstub64.exe)
# The setup program of `sfxpack build --msi`, found the same way.
install(FILES ${SFX_INSTALL_MSIRUNNER} DESTINATION share/sfxstub RENAME msirunner.exe)
install(FILES ${SFX_INSTALL_MSIRUNNER64} DESTINATION share/sfxstub RENAME msirunner64.exe)
install(FILES ${packaging_dir}/sfxpack.1.gz DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/tools/sfxpack/sfxpack.bash-completion
        DESTINATION share/bash-completion/completions RENAME sfxpack)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${packaging_dir}/changelog.gz
        DESTINATION share/doc/sfxstub)

set(CPACK_PACKAGE_NAME sfxstub)
set(CPACK_PACKAGE_VENDOR "sfxstub")
set(CPACK_PACKAGE_CONTACT "sfxstub maintainers <maintainers@users.noreply.c-seed-de0f026b.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "signed self-extracting Windows setup packages")
# Debian shows the description as it stands: lines under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "sfxpack makes DSA keys and builds signed packages onto sfxstub.exe, a
Windows program that verifies the signature over its own file, extracts a
setup program and its files into a private folder, runs it and cleans up.
sfxpack verifies, lists and extracts packages with the stub's own code.
The package holds the tool, its man page and bash completion, and the
32-bit and 64-bit stubs and MSI runners.")
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_FILE_NAME "sfxstub-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
find_program(SFX_MINGW_STRIP x86_64-w64-mingw32-strip)
# The tarball alone carries the Windows tool, in windows/ beside bin/ and share/.
set(windows_stage ${CMAKE_BINARY_DIR}/packaging/windows)
configure_file(${PROJECT_SOURCE_DIR}/cmake/cpack_project_config.cmake.in
               ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
include(CPack)
