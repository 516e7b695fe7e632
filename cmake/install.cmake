# What `cmake --install` puts where Debian keeps it: the three tools in bin/,
# their manual pages in share/man/, the bash completion, and the docs, the
# built-in profiles as files and the sample image in share/doc/updatetool/.
# The pages, the completion and the profiles are made at build time by the
# built tools from their own definitions (cmake/generate_part.cmake).
include(GNUInstallDirs)

# A prefix nobody may write to ends the install with one clear line, before
# any file is copied.
install(CODE [[
  set(prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(probe "${prefix}/.updatetool-install-probe")
  execute_process(COMMAND ${CMAKE_COMMAND} -E make_directory "${prefix}" RESULT_VARIABLE made ERROR_QUIET)
  execute_process(COMMAND ${CMAKE_COMMAND} -E touch "${probe}" RESULT_VARIABLE touched ERROR_QUIET)
  if(NOT made EQUAL 0 OR NOT touched EQUAL 0)
    message(FATAL_ERROR "cannot install into ${prefix}: it is not a folder this user may write to "
                        "(give another one with --prefix, or run as a user who may write there)")
  endif()
  file(REMOVE "${probe}")
]])

install(TARGETS ${TOOL_TARGETS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT (TARGET updatetool AND TARGET modulectl AND TARGET mkbin))
  return()
endif()

set(generated ${CMAKE_BINARY_DIR}/share)
set(tools_list updatetool=$<TARGET_FILE:updatetool> modulectl=$<TARGET_FILE:modulectl> mkbin=$<TARGET_FILE:mkbin>)
string(JOIN "\\;" tools_arg ${tools_list})
string(JOIN "\\;" emulator_arg ${CMAKE_CROSSCOMPILING_EMULATOR})

# generate(OUTPUT TEMPLATE PARTS... [GZIP]): TEMPLATE filled with the parts.
function(generate output template)
  cmake_parse_arguments(G "GZIP" "" "PARTS" ${ARGN})
  string(JOIN "\\;" parts ${G_PARTS})
  set(outputs ${output})
  if(G_GZIP)
    list(APPEND outputs ${output}.gz)
  endif()
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} "-DTOOLS=${tools_arg}" "-DEMULATOR=${emulator_arg}" -DTEMPLATE=${template}
            -DOUTPUT=${output} "-DPARTS=${parts}" -DVERSION=${PROJECT_VERSION} -DGZIP=${G_GZIP}
            -P ${CMAKE_SOURCE_DIR}/cmake/generate_part.cmake
    DEPENDS ${template} ${CMAKE_SOURCE_DIR}/cmake/generate_part.cmake updatetool modulectl mkbin
    COMMENT "Generating ${output}")
endfunction()

set(man ${generated}/man)
generate(${man}/updatetool.1 ${CMAKE_SOURCE_DIR}/tools/updatetool/updatetool.1.in GZIP PARTS @OPTIONS@=updatetool:man)
generate(${man}/modulectl.1 ${CMAKE_SOURCE_DIR}/tools/modulectl/modulectl.1.in GZIP PARTS @OPTIONS@=modulectl:man)
generate(${man}/mkbin.1 ${CMAKE_SOURCE_DIR}/tools/mkbin/mkbin.1.in GZIP PARTS @OPTIONS@=mkbin:man)
generate(${man}/updatetool-module.5 ${CMAKE_SOURCE_DIR}/module/updatetool-module.5.in GZIP
         PARTS @KEYS@=modulectl:module-keys)
generate(${generated}/completion.bash ${CMAKE_SOURCE_DIR}/tools/common/completion.bash
         PARTS @UPDATETOOL@=updatetool:bash @MODULECTL@=modulectl:bash @MKBIN@=mkbin:bash)

# The built-in profiles as the module.toml each makes.
add_custom_command(OUTPUT ${generated}/profiles.stamp
  COMMAND ${CMAKE_COMMAND} -DMODULECTL=$<TARGET_FILE:modulectl> "-DEMULATOR=${emulator_arg}"
          -DOUTPUT_DIR=${generated}/profiles -P ${CMAKE_SOURCE_DIR}/cmake/generate_profiles.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${generated}/profiles.stamp
  DEPENDS ${CMAKE_SOURCE_DIR}/cmake/generate_profiles.cmake modulectl
  COMMENT "Writing the built-in profiles as files")

set(man_pages ${man}/updatetool.1 ${man}/modulectl.1 ${man}/mkbin.1 ${man}/updatetool-module.5)
add_custom_target(manuals ALL DEPENDS ${man_pages} ${man}/updatetool.1.gz ${man}/modulectl.1.gz ${man}/mkbin.1.gz
                  ${man}/updatetool-module.5.gz ${generated}/completion.bash
                  ${generated}/profiles.stamp)

install(FILES ${man}/updatetool.1.gz ${man}/modulectl.1.gz ${man}/mkbin.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${man}/updatetool-module.5.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
foreach(tool updatetool modulectl mkbin)
  install(FILES ${generated}/completion.bash RENAME ${tool}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endforeach()
file(GLOB docs ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${docs} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${generated}/profiles/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/profiles)
install(FILES ${CMAKE_BINARY_DIR}/sample.bin DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
