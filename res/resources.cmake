# Resources of the Windows program: icons and bitmaps drawn by make_art.py and the string
# table written from src/ui/strings.cpp by make_strings.py, both into the build folder,
# then compiled with the resource script by windres. Sets VARNEL_RESOURCE_SCRIPT.
enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(res_dir ${CMAKE_SOURCE_DIR}/res)
set(gen_dir ${CMAKE_BINARY_DIR}/res)
set(art main.ico arrow.ico quickblaze.ico exit.bmp reboot.bmp update.bmp banner.bmp)
list(TRANSFORM art PREPEND ${gen_dir}/)

add_custom_command(OUTPUT ${art}
  COMMAND Python3::Interpreter ${res_dir}/make_art.py ${gen_dir}
  DEPENDS ${res_dir}/make_art.py
  COMMENT "Drawing icons and bitmaps"
  VERBATIM)
add_custom_command(OUTPUT ${gen_dir}/strings.rc
  COMMAND Python3::Interpreter ${res_dir}/make_strings.py ${CMAKE_SOURCE_DIR}/src/ui/strings.cpp
          ${gen_dir}/strings.rc
  DEPENDS ${res_dir}/make_strings.py ${CMAKE_SOURCE_DIR}/src/ui/strings.cpp
  COMMENT "Writing the string table"
  VERBATIM)
add_custom_target(varnel_resources DEPENDS ${art} ${gen_dir}/strings.rc)

set(VARNEL_RESOURCE_SCRIPT ${res_dir}/varnel.rc)
set_source_files_properties(${VARNEL_RESOURCE_SCRIPT} PROPERTIES
  OBJECT_DEPENDS "${art};${gen_dir}/strings.rc;${res_dir}/resource.h;${res_dir}/varnel.exe.manifest")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${gen_dir} -I${res_dir}")
