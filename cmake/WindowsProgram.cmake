# What makes a Windows program look like one: the project's icon, made from
# packaging/krl7741-panel.svg at 16 to 256 pixels (rsvg-convert draws the
# bitmaps, icotool packs them), and a version resource, both compiled into the
# program by the resource compiler (windres with mingw-w64).
#   krl_windows_program(<target> <description>)
# gives a program both; it does nothing on other systems.

set(KRL_PRODUCT "KRL7741 Controller")
set(KRL_VENDOR "KRL7741 panel authors")
set(KRL_WINDOWS_ICON "")
set(KRL_WINDOWS_ICON_SIZES 16 20 24 32 40 48 64 128 256)

if(WIN32)
  enable_language(RC)
  find_program(RSVG_CONVERT rsvg-convert)
  find_program(ICOTOOL icotool)
  if(RSVG_CONVERT AND ICOTOOL)
    set(dir ${CMAKE_BINARY_DIR}/windows-icon)
    set(KRL_WINDOWS_ICON ${dir}/krl7741-panel.ico)
    set(bitmaps)
    set(pack)
    foreach(size IN LISTS KRL_WINDOWS_ICON_SIZES)
      add_custom_command(
        OUTPUT ${dir}/${size}.png
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${dir}/${size}.png
                ${PROJECT_SOURCE_DIR}/packaging/krl7741-panel.svg
        DEPENDS ${PROJECT_SOURCE_DIR}/packaging/krl7741-panel.svg
        VERBATIM)
      list(APPEND bitmaps ${dir}/${size}.png)
      # The large ones are stored as PNG, as Windows has read them since Vista;
      # the small ones as bitmaps, which every reader of icons knows.
      if(size GREATER_EQUAL 128)
        list(APPEND pack -r ${dir}/${size}.png)
      else()
        list(APPEND pack ${dir}/${size}.png)
      endif()
    endforeach()
    add_custom_command(
      OUTPUT ${KRL_WINDOWS_ICON}
      COMMAND ${ICOTOOL} -c -o ${KRL_WINDOWS_ICON} ${pack}
      DEPENDS ${bitmaps}
      VERBATIM)
    add_custom_target(krl_windows_icon DEPENDS ${KRL_WINDOWS_ICON})
  else()
    message(WARNING "rsvg-convert or icotool not found (librsvg2-bin, icoutils): "
                    "the Windows programs get no icon")
  endif()
endif()

function(krl_windows_program target description)
  if(NOT WIN32)
    return()
  endif()
  set(KRL_RC_NAME ${target})
  set(KRL_RC_DESCRIPTION "${description}")
  if(KRL_WINDOWS_ICON)
    set(KRL_RC_ICON "IDI_ICON1 ICON \"${KRL_WINDOWS_ICON}\"")
  else()
    set(KRL_RC_ICON "")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_target_properties(${target} PROPERTIES KRL_DESCRIPTION "${description}")
  if(KRL_WINDOWS_ICON)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${KRL_WINDOWS_ICON})
    add_dependencies(${target} krl_windows_icon)
  endif()
endfunction()
