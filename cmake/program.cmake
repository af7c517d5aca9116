# A shipped Windows program of this tree: its hardened entry, its version
# resource and asInvoker manifest (the version is the project's), its output
# beside the build tree's root, and its symbols kept apart. It is shipped without symbols or
# debug information, as Windows programs are; they stay beside it in the
# build tree, in a file the executable names (with its checksum) in a debug
# link, so addr2line or gdb run on the executable still resolve crash
# addresses.
function(starter_program target description)
  set(PROGRAM_NAME ${target})
  set(PROGRAM_DESCRIPTION ${description})
  string(REPLACE "." "," VERSION_COMMAS ${PROJECT_VERSION})
  set(MANIFEST_PATH ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/program.manifest.in ${MANIFEST_PATH} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/program.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)

  add_executable(${target} ${ARGN} ${PROJECT_SOURCE_DIR}/src/platform/hardened_entry_win.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  target_link_libraries(${target} PRIVATE starter_win)
  # HardenedEntry hardens the process before the C runtime starts. The image
  # registers no exception handler of its own (no code in it writes the
  # handler chain at fs:0), so it says so (NO_SEH): no address in it can
  # then serve as a planted handler, which is what a table of safe handlers
  # would give, and this linker cannot build one.
  target_link_options(${target} PRIVATE LINKER:-e,_HardenedEntry LINKER:--no-seh)
  # The link's map beside it: the archive members it names are what the
  # release's bill of materials is derived from (scripts/release_sbom.py). It
  # leaves the program's bytes as they are.
  target_link_options(${target} PRIVATE LINKER:-Map=${CMAKE_BINARY_DIR}/${target}.map)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

  set(exe $<TARGET_FILE_NAME:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${exe} ${exe}.debug
    COMMAND ${CMAKE_STRIP} --strip-all ${exe}
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${exe}.debug ${exe}
    BYPRODUCTS ${CMAKE_BINARY_DIR}/${target}.exe.debug
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    VERBATIM)

  # Its test build (tests/fault): the same sources and flags, entered through
  # the fault injector, which routes its system calls; never shipped. It
  # keeps the program's file name, in a folder of its own.
  if(STARTER_TESTS)
    add_executable(${target}_fault ${ARGN} ${PROJECT_SOURCE_DIR}/src/platform/hardened_entry_win.cpp
      ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    target_link_libraries(${target}_fault PRIVATE starter_win fault_injector)
    target_link_options(${target}_fault PRIVATE LINKER:-e,_FaultEntry LINKER:--no-seh
      LINKER:--wrap=main LINKER:--wrap=mainCRTStartup)
    set_target_properties(${target}_fault PROPERTIES OUTPUT_NAME ${target}
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin/fault)
  endif()
endfunction()
