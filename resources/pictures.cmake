# The front panel's pictures are our own, painted at build time by a small Qt program (run under
# the board's emulator when cross-building) and compiled into the core library as ":/png/...".
add_executable(vyr_paint_pictures ${CMAKE_CURRENT_LIST_DIR}/paint_pictures.cpp)
target_link_libraries(vyr_paint_pictures PRIVATE Qt5::Gui)
target_include_directories(vyr_paint_pictures PRIVATE ${CMAKE_SOURCE_DIR}/src)
if(VYR_SANITIZE)
  # A build tool: Qt's own leaks at exit must not fail the build.
  target_compile_options(vyr_paint_pictures PRIVATE -fno-sanitize=all)
  target_link_options(vyr_paint_pictures PRIVATE -fno-sanitize=all)
endif()

set(VYR_PICTURES_DIR ${CMAKE_BINARY_DIR}/pictures)
set(VYR_PICTURES_CPP ${CMAKE_BINARY_DIR}/qrc_vyr_pictures.cpp)
add_custom_command(
  OUTPUT ${VYR_PICTURES_DIR}/pictures.qrc
  COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:vyr_paint_pictures> ${VYR_PICTURES_DIR}
  DEPENDS vyr_paint_pictures ${CMAKE_SOURCE_DIR}/src/ui/picture_sizes.h
  COMMENT "Painting the front panel's pictures"
  VERBATIM)
add_custom_command(
  OUTPUT ${VYR_PICTURES_CPP}
  COMMAND Qt5::rcc --name vyr_pictures --output ${VYR_PICTURES_CPP} ${VYR_PICTURES_DIR}/pictures.qrc
  DEPENDS ${VYR_PICTURES_DIR}/pictures.qrc
  VERBATIM)
target_sources(vyr_core PRIVATE ${VYR_PICTURES_CPP})

# The settings menu's pictures come from a painter of their own, into a resource of their own.
add_executable(vyr_paint_menu_pictures ${CMAKE_CURRENT_LIST_DIR}/paint_menu_pictures.cpp)
target_link_libraries(vyr_paint_menu_pictures PRIVATE Qt5::Gui)
if(VYR_SANITIZE)
  target_compile_options(vyr_paint_menu_pictures PRIVATE -fno-sanitize=all)
  target_link_options(vyr_paint_menu_pictures PRIVATE -fno-sanitize=all)
endif()
set(VYR_MENU_PICTURES_DIR ${CMAKE_BINARY_DIR}/menu_pictures)
set(VYR_MENU_PICTURES_CPP ${CMAKE_BINARY_DIR}/qrc_vyr_menu_pictures.cpp)
add_custom_command(
  OUTPUT ${VYR_MENU_PICTURES_DIR}/menu_pictures.qrc
  COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:vyr_paint_menu_pictures> ${VYR_MENU_PICTURES_DIR}
  DEPENDS vyr_paint_menu_pictures
  COMMENT "Painting the settings menu's pictures"
  VERBATIM)
add_custom_command(
  OUTPUT ${VYR_MENU_PICTURES_CPP}
  COMMAND Qt5::rcc --name vyr_menu_pictures --output ${VYR_MENU_PICTURES_CPP} ${VYR_MENU_PICTURES_DIR}/menu_pictures.qrc
  DEPENDS ${VYR_MENU_PICTURES_DIR}/menu_pictures.qrc
  VERBATIM)
target_sources(vyr_core PRIVATE ${VYR_MENU_PICTURES_CPP})
