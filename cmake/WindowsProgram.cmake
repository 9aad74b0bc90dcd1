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
    # The installer's pictures, drawn from the same icon: the header's
    # (150 x 57) and the welcome and finish pages' (164 x 314), as the 24-bit
    # bitmaps NSIS takes, made by ImageMagick (its own name first: Debian 12
    # has convert-im6.q16, Debian 13 magick).
    find_program(KRL_MAGICK NAMES magick convert-im6.q16 convert-im7.q16 PATHS /usr/bin NO_DEFAULT_PATH)
    set(KRL_WINDOWS_PICTURES "")
    if(KRL_MAGICK)
      set(KRL_WINDOWS_HEADER ${dir}/installer-header.bmp)
      set(KRL_WINDOWS_SIDE ${dir}/installer-side.bmp)
      add_custom_command(
        OUTPUT ${KRL_WINDOWS_HEADER} ${KRL_WINDOWS_SIDE}
        COMMAND ${RSVG_CONVERT} -w 49 -h 49 -o ${dir}/header-icon.png ${PROJECT_SOURCE_DIR}/packaging/krl7741-panel.svg
        COMMAND ${KRL_MAGICK} -size 150x57 xc:white ${dir}/header-icon.png -gravity east -geometry +6+0
                -composite -type TrueColor BMP3:${KRL_WINDOWS_HEADER}
        COMMAND ${KRL_MAGICK} -size 164x314 "gradient:#3b4250-#1f242c" ${dir}/128.png -gravity north
                -geometry +0+48 -composite -type TrueColor BMP3:${KRL_WINDOWS_SIDE}
        DEPENDS ${PROJECT_SOURCE_DIR}/packaging/krl7741-panel.svg ${dir}/128.png
        VERBATIM)
      set(KRL_WINDOWS_PICTURES ${KRL_WINDOWS_HEADER} ${KRL_WINDOWS_SIDE})
    else()
      message(WARNING "ImageMagick not found (imagemagick): the installer shows NSIS's own pictures")
    endif()
    add_custom_target(krl_windows_icon ALL DEPENDS ${KRL_WINDOWS_ICON} ${KRL_WINDOWS_PICTURES})
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
