# A test tool built a second time as a 64-bit Windows program, for tests that
# need a 64-bit process beside the 32-bit starter (on 64-bit Windows the
# starter reads such a process through WOW64). The tree's compiler makes only
# 32-bit code, so the x86-64 cross compiler builds the same sources here with
# the tree's definitions, in one step; its dependency file keeps it current
# when a header changes.
find_program(STARTER_X86_64_CXX x86_64-w64-mingw32-g++-posix REQUIRED)

# starter_x86_64_tool(<target> <output.exe> SOURCES <files...> LIBRARIES <names...>)
function(starter_x86_64_tool target output)
  cmake_parse_arguments(PARSE_ARGV 2 tool "" "" "SOURCES;LIBRARIES")
  set(sources)
  foreach(source ${tool_SOURCES})
    list(APPEND sources ${CMAKE_CURRENT_SOURCE_DIR}/${source})
  endforeach()
  list(TRANSFORM tool_LIBRARIES PREPEND -l OUTPUT_VARIABLE libraries)
  add_custom_command(OUTPUT ${output}
    COMMAND ${STARTER_X86_64_CXX} -std=c++17 -O1 -Wall -Wextra -MD -MF ${target}.d
      -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601
      -I${PROJECT_SOURCE_DIR}/src -I${PROJECT_SOURCE_DIR}/tests
      ${sources} -o ${output} -static -static-libgcc -static-libstdc++ ${libraries}
    DEPENDS ${sources}
    DEPFILE ${CMAKE_CURRENT_BINARY_DIR}/${target}.d
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    COMMENT "Building the 64-bit ${target}"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${output})
endfunction()
