# The front panel's pictures are our own, painted at build time by small Qt programs (run under
# the board's emulator when cross-building) and compiled into the core library as ":/png/...".
# vyr_painted_pictures(<name> <painter source> <comment> [extra dependencies...]): the painter
# vyr_paint_<name>, its folder <build>/<name> with <name>.qrc, and the resource compiled in.
function(vyr_painted_pictures name source comment)
  set(painter vyr_paint_${name})
  add_executable(${painter} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${source})
  target_link_libraries(${painter} PRIVATE Qt5::Gui)
  target_include_directories(${painter} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  if(VYR_SANITIZE OR VYR_FUZZ)
    # A build tool: Qt's own leaks at exit must not fail the build.
    target_compile_options(${painter} PRIVATE -fno-sanitize=all)
    target_link_options(${painter} PRIVATE -fno-sanitize=all)
  endif()
  set(dir ${CMAKE_BINARY_DIR}/${name})
  set(cpp ${CMAKE_BINARY_DIR}/qrc_vyr_${name}.cpp)
  add_custom_command(
    OUTPUT ${dir}/${name}.qrc
    COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${painter}> ${dir}
    DEPENDS ${painter} ${ARGN}
    COMMENT "${comment}"
    VERBATIM)
  add_custom_command(
    OUTPUT ${cpp}
    COMMAND Qt5::rcc --name vyr_${name} --output ${cpp} ${dir}/${name}.qrc
    DEPENDS ${dir}/${name}.qrc
    VERBATIM)
  target_sources(vyr_core PRIVATE ${cpp})
endfunction()

vyr_painted_pictures(pictures paint_pictures.cpp "Painting the front panel's pictures"
                     ${CMAKE_SOURCE_DIR}/src/ui/picture_sizes.h)
# The settings menu's pictures come from a painter of their own, into a resource of their own.
vyr_painted_pictures(menu_pictures paint_menu_pictures.cpp "Painting the settings menu's pictures")
