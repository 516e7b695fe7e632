cmake_minimum_required(VERSION 3.25)
# Fills a template with what the built tools print for their hidden
# --generate PART: the manual pages and the completion script are made from
# the tools' own command-line definitions at build time.
#
#   cmake -DTOOLS=<name=path;...> [-DEMULATOR=<command>] -DTEMPLATE=<file>
#         -DOUTPUT=<file> -DPARTS=<@NAME@=tool:part;...> [-DVERSION=x.y.z]
#         [-DGZIP=ON] -P generate_part.cmake
#
# Each @NAME@ in the template becomes the output of `tool --generate part`;
# @VERSION@ the project's version, @DATE@ the date (SOURCE_DATE_EPOCH when
# set). With GZIP the file is also written compressed, as Debian installs
# manual pages.
file(READ ${TEMPLATE} text)
foreach(entry IN LISTS TOOLS)
  string(REGEX MATCH "^([^=]+)=(.*)$" _ "${entry}")
  set(tool_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
endforeach()
foreach(part IN LISTS PARTS)
  if(NOT part MATCHES "^([^=]+)=([^:]+):(.*)$")
    message(FATAL_ERROR "generate_part: a part is @NAME@=tool:part, not ${part}")
  endif()
  set(placeholder ${CMAKE_MATCH_1})
  set(tool ${tool_${CMAKE_MATCH_2}})
  set(name ${CMAKE_MATCH_3})
  execute_process(COMMAND ${EMULATOR} ${tool} --generate ${name}
    OUTPUT_VARIABLE made RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0 OR made STREQUAL "")
    message(FATAL_ERROR "${tool} --generate ${name} failed (${status}): ${errors}")
  endif()
  string(REPLACE "${placeholder}" "${made}" text "${text}")
endforeach()
string(TIMESTAMP date "%Y-%m-%d" UTC)
string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
string(REPLACE "@DATE@" "${date}" text "${text}")
file(WRITE ${OUTPUT}.new "${text}")
file(RENAME ${OUTPUT}.new ${OUTPUT})
if(GZIP)
  execute_process(COMMAND gzip -9nkf ${OUTPUT} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${OUTPUT} failed")
  endif()
endif()
