# Reads a Windows program's resources back with wrestool (icoutils):
#   cmake -DWRESTOOL=<wrestool> -DPROGRAM=<program.exe> -DICONS=<number of sizes>
#         -DSTRINGS=<text|text...> -P resources_test.cmake
# The program must hold the icon Qt gives its windows (IDI_ICON1) with every
# size, and a version resource holding each of the texts.
get_filename_component(program_name ${PROGRAM} NAME_WE)

function(extract type name out)
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${program_name}-resource-${type}.bin)
  execute_process(COMMAND ${WRESTOOL} -x --raw --type=${type} ${name} -o ${file} ${PROGRAM}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT EXISTS ${file})
    message(FATAL_ERROR "${PROGRAM}: no resource of type ${type} ${name}")
  endif()
  file(READ ${file} hex HEX)
  file(REMOVE ${file})
  set(${out} ${hex} PARENT_SCOPE)
endfunction()

# The group icon: a header of 6 bytes, its count of images at bytes 4 and 5.
extract(14 --name=IDI_ICON1 group)
string(SUBSTRING ${group} 8 4 count)
math(EXPR count "0x${count}" OUTPUT_FORMAT DECIMAL)
math(EXPR count "(${count} % 256) * 256 + ${count} / 256")  # little endian
if(NOT count EQUAL ICONS)
  message(FATAL_ERROR "${PROGRAM}: IDI_ICON1 holds ${count} images, not ${ICONS}")
endif()

# The version resource keeps its texts in UTF-16.
extract(16 "" version)
string(REPLACE "|" ";" texts "${STRINGS}")
foreach(text IN LISTS texts)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" utf16 "${hex}")
  string(FIND "${version}" "${utf16}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM}: the version resource does not hold \"${text}\"")
  endif()
endforeach()
message(STATUS "${PROGRAM}: ${count} icon images; ${STRINGS}")
