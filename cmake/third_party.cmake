# spdlog and fmt come as headers from the system's packages; their compiled
# parts are built once per tree from them (third_party/). Only their two
# include folders are exposed: the whole of /usr/include would shadow the
# cross compiler's own C library headers with glibc's.
set(THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${THIRD_PARTY_INCLUDE})
foreach(lib spdlog fmt)
  if(NOT EXISTS /usr/include/${lib})
    message(FATAL_ERROR "/usr/include/${lib} is missing: run scripts/setup.sh")
  endif()
  file(CREATE_LINK /usr/include/${lib} ${THIRD_PARTY_INCLUDE}/${lib} SYMBOLIC)
endforeach()

# fmt and spdlog are parsed once per target rather than once per file, and so
# are the further headers a target names: a test file spends more time
# reading GoogleTest, GoogleMock and windows.h than compiling itself.
function(starter_precompile_headers target)
  target_precompile_headers(${target} PRIVATE <fmt/format.h> <fmt/xchar.h> <string> <vector> ${ARGN})
endfunction()

# GoogleTest from the source package, built with whichever compiler this tree uses.
if(NOT STARTER_TESTS)
  return()
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
