# vt_add_subsystem(<target> [DEPS <targets...>])
# Builds one static library from every .cpp/.c file of the current folder.
# Libraries of the lower layers reference each other (the log writes through the
# object locks and the registry, the locks and the registry helpers write to the log),
# so some of these static libraries depend on each other in a cycle; CMake links
# such groups of static libraries repeatedly, which is what we want here.
function(vt_add_subsystem target)
  cmake_parse_arguments(ARG "" "" "DEPS;EXTRA_SOURCES" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(NOT _srcs AND NOT ARG_EXTRA_SOURCES)
    # A module whose sources are not written yet still configures.
    set(_empty ${CMAKE_CURRENT_BINARY_DIR}/${target}_empty.cpp)
    file(WRITE ${_empty} "// no sources yet\n")
    set(_srcs ${_empty})
  endif()
  add_library(${target} STATIC ${_srcs} ${ARG_EXTRA_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  if(ARG_DEPS)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  endif()
  set_target_properties(${target} PROPERTIES LINK_INTERFACE_MULTIPLICITY 4)
endfunction()
