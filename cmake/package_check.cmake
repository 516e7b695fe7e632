# Read by cpack before it builds the package. Without dpkg-shlibdeps CPack
# would build a package that depends on nothing, which installs and then
# fails to run: stop here instead.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(UPDATETOOL_SHLIBDEPS dpkg-shlibdeps)
  if(NOT UPDATETOOL_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps not found: the package's library dependencies cannot be found "
                        "(install dpkg-dev, or run scripts/setup.sh)")
  endif()
endif()
