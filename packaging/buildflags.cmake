# Debian's hardening flags, as dpkg-buildflags gives them for the target
# architecture (stack protector, _FORTIFY_SOURCE, format checks, full RELRO
# and immediate binding), on every optimised build that is not instrumented
# by a sanitizer: the packaged programs and the tests then see the same code.
# The optimisation and debug flags stay those of the build type.
option(PQW_DEB_BUILDFLAGS "Debian's hardening flags from dpkg-buildflags" ON)
find_program(PQW_DPKG_BUILDFLAGS dpkg-buildflags)
string(TOUPPER "${CMAKE_BUILD_TYPE}" pqw_build_type)
if(PQW_DEB_BUILDFLAGS AND PQW_DPKG_BUILDFLAGS AND NOT PQW_SANITIZE AND NOT PQW_FUZZ
   AND NOT pqw_build_type STREQUAL "DEBUG")
  set(pqw_flag_env DEB_BUILD_MAINT_OPTIONS=hardening=+all)
  if(PQW_DEB_ARCH)
    list(APPEND pqw_flag_env DEB_HOST_ARCH=${PQW_DEB_ARCH})
  endif()
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND env ${pqw_flag_env} ${PQW_DPKG_BUILDFLAGS} --get ${kind}
                    OUTPUT_VARIABLE pqw_flags OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    separate_arguments(pqw_flags UNIX_COMMAND "${pqw_flags}")
    list(FILTER pqw_flags EXCLUDE REGEX "^-(g|O.*|ffile-prefix-map=.*)$")
    if(kind STREQUAL "LDFLAGS")
      add_link_options(${pqw_flags})
    else()
      add_compile_options(${pqw_flags})
    endif()
    set(PQW_HARDENING_${kind} "${pqw_flags}")
  endforeach()
  message(STATUS "Debian hardening: ${PQW_HARDENING_CPPFLAGS} ${PQW_HARDENING_CXXFLAGS} "
                 "${PQW_HARDENING_LDFLAGS}")
endif()
