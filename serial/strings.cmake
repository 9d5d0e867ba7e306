# String tables of the serial layer, built into the serial core.
#   corvane_strtable      the parser and encoder of the text sources (also
#                         linked by the tests, which check its refusals)
#   corvane_strtable_gen  the host program that turns resources/*.txt into
#                         SerStringTables.cpp (byte arrays in the stored
#                         "STR0" layout plus the program's resource list)
# A fault in a text source (ids out of order, bad UTF-8, ...) fails the build.
set(corvane_strtable_dir ${CMAKE_CURRENT_LIST_DIR}/../tools/strtable)
set(corvane_strtable_sources
    SERIAL_ERROR_STRINGS_ENGLISH=${CMAKE_CURRENT_LIST_DIR}/../resources/serial_error_strings.txt
    STRING_MANAGER_STRINGS=${CMAKE_CURRENT_LIST_DIR}/../resources/string_manager_strings.txt)
set(corvane_strtable_inputs
    ${CMAKE_CURRENT_LIST_DIR}/../resources/serial_error_strings.txt
    ${CMAKE_CURRENT_LIST_DIR}/../resources/string_manager_strings.txt)
set(corvane_strtable_output ${CMAKE_CURRENT_BINARY_DIR}/SerStringTables.cpp)

add_library(corvane_strtable STATIC ${corvane_strtable_dir}/StrTable.cpp)
target_include_directories(corvane_strtable PUBLIC ${corvane_strtable_dir})
set_target_properties(corvane_strtable PROPERTIES AUTOMOC OFF AUTOUIC OFF)

add_executable(corvane_strtable_gen ${corvane_strtable_dir}/main.cpp)
target_link_libraries(corvane_strtable_gen PRIVATE corvane_strtable)
set_target_properties(corvane_strtable_gen PROPERTIES AUTOMOC OFF AUTOUIC OFF)

add_custom_command(
  OUTPUT ${corvane_strtable_output}
  COMMAND corvane_strtable_gen --output ${corvane_strtable_output} ${corvane_strtable_sources}
  DEPENDS corvane_strtable_gen ${corvane_strtable_inputs}
  COMMENT "Embedding the serial layer's string tables"
  VERBATIM)

target_sources(corvane_serial_core PRIVATE ${corvane_strtable_output})
