cmake_minimum_required(VERSION 3.25)
# Writes each built-in profile as the module.toml it makes, NAME.toml in
# OUTPUT_DIR, with the names `modulectl profiles` lists.
#
#   cmake -DMODULECTL=<path> [-DEMULATOR=<command>] -DOUTPUT_DIR=<dir> -P generate_profiles.cmake
execute_process(COMMAND ${EMULATOR} ${MODULECTL} profiles OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "modulectl profiles failed (${status})")
endif()
file(REMOVE_RECURSE ${OUTPUT_DIR})
file(MAKE_DIRECTORY ${OUTPUT_DIR})
string(REGEX MATCHALL "(^|\n)[^ \n]+" names "${listing}")
foreach(name IN LISTS names)
  string(STRIP "${name}" name)
  execute_process(COMMAND ${EMULATOR} ${MODULECTL} --generate profile-${name}
    OUTPUT_VARIABLE toml RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR toml STREQUAL "")
    message(FATAL_ERROR "modulectl --generate profile-${name} failed (${status})")
  endif()
  file(WRITE ${OUTPUT_DIR}/${name}.toml "${toml}")
endforeach()
