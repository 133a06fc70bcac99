# The Windows build links libxml2 and SQLite statically. Both are compiled for the
# target at configure time from the Debian source packages of this machine (see
# windows-deps.sh) into <build>/deps/prefix, once per source package version, and
# found from there through the usual find modules: LibXml2::LibXml2 and
# SQLite::SQLite3 for the targets that use them.
set(VT_WINDOWS_DEPS_DIR ${CMAKE_BINARY_DIR}/deps)
set(_vt_deps_prefix ${VT_WINDOWS_DEPS_DIR}/prefix)

execute_process(
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/windows-deps.sh ${VT_WINDOWS_DEPS_DIR}
          ${CMAKE_TOOLCHAIN_FILE} ${CMAKE_C_COMPILER} ${CMAKE_AR} 2
  RESULT_VARIABLE _vt_deps_result
  ERROR_VARIABLE _vt_deps_error
  ERROR_STRIP_TRAILING_WHITESPACE)
if(NOT _vt_deps_result EQUAL 0)
  if(NOT _vt_deps_error)
    set(_vt_deps_error "windows-deps: ${_vt_deps_result}")
  endif()
  message(FATAL_ERROR "${_vt_deps_error}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/windows-deps.sh)

# Searched first; pkg-config sees only the libraries built for the target.
list(PREPEND CMAKE_FIND_ROOT_PATH ${_vt_deps_prefix})
set(_vt_saved_pkg_config_libdir "$ENV{PKG_CONFIG_LIBDIR}")
set(ENV{PKG_CONFIG_LIBDIR} ${_vt_deps_prefix}/lib/pkgconfig)
find_package(LibXml2 REQUIRED)
find_package(SQLite3 REQUIRED)
set(ENV{PKG_CONFIG_LIBDIR} "${_vt_saved_pkg_config_libdir}")

# The static libxml2 headers declare their functions without dllimport only
# when LIBXML_STATIC is defined; its thread support uses the toolchain's pthreads.
find_package(Threads REQUIRED)
set_property(TARGET LibXml2::LibXml2 APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS LIBXML_STATIC)
set_property(TARGET LibXml2::LibXml2 APPEND PROPERTY INTERFACE_LINK_LIBRARIES Threads::Threads)
