# The compiler and linker flags a Debian package is built with, as dpkg-buildflags gives them,
# with every hardening feature on: fortified libc calls (-D_FORTIFY_SOURCE=2), the stack
# protector, format-string checks, and read-only relocations resolved at start (-z relro, -z now).
# They come before the build type's own flags, so the preset still chooses optimization and
# debug information.
find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
function(vantor_debian_flags out kind)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${DPKG_BUILDFLAGS} --get ${kind}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
  set(${out} "${flags}" PARENT_SCOPE)
endfunction()

vantor_debian_flags(cppflags CPPFLAGS)
vantor_debian_flags(cflags CFLAGS)
vantor_debian_flags(cxxflags CXXFLAGS)
vantor_debian_flags(ldflags LDFLAGS)
string(APPEND CMAKE_C_FLAGS " ${cppflags} ${cflags}")
string(APPEND CMAKE_CXX_FLAGS " ${cppflags} ${cxxflags}")
foreach(kind EXE SHARED MODULE)
  string(APPEND CMAKE_${kind}_LINKER_FLAGS " ${ldflags}")
endforeach()
message(STATUS "Debian build flags: ${cppflags} ${cxxflags} | ${ldflags}")
