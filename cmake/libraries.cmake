# The Debian libraries the simulated module and the tools build on: toml++
# (module.toml), CLI11 (command lines) and nlohmann-json (reports). The
# system itself uses none of them.
#
# A cross build for the module's processor finds no target packages for them.
# All three can be used from their headers alone, so it takes the host's
# headers through a folder that holds nothing else: the host's /usr/include
# itself must not come before the target's C library headers.
if(CMAKE_CROSSCOMPILING)
  set(host_headers ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${host_headers})
  foreach(dir CLI toml++ nlohmann)
    if(NOT EXISTS /usr/include/${dir})
      message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/setup.sh")
    endif()
    file(CREATE_LINK /usr/include/${dir} ${host_headers}/${dir} SYMBOLIC)
  endforeach()
  foreach(target CLI11::CLI11 tomlplusplus::tomlplusplus nlohmann_json::nlohmann_json)
    add_library(${target} INTERFACE IMPORTED)
    target_include_directories(${target} SYSTEM INTERFACE ${host_headers})
  endforeach()
else()
  find_package(CLI11 CONFIG REQUIRED)
  find_package(tomlplusplus REQUIRED)
  find_package(nlohmann_json REQUIRED)
endif()
