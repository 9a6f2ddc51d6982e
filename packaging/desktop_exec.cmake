# Sets PELKO_EXEC to PELKO_LAUNCHER written as a desktop entry's Exec value.
# A path of plain letters stays as it is; any other is quoted, with the
# characters the quoting reserves escaped, and then every backslash doubled
# once more for the string value the entry's key holds.
if(PELKO_LAUNCHER MATCHES "^[A-Za-z0-9/._+-]+$")
  set(PELKO_EXEC "${PELKO_LAUNCHER}")
  return()
endif()
if(PELKO_LAUNCHER MATCHES "[\n\r\t]")
  message(FATAL_ERROR "A desktop entry cannot start a program whose path has a line break or tab: ${PELKO_LAUNCHER}")
endif()
string(REPLACE "\\" "\\\\" _arg "${PELKO_LAUNCHER}")
string(REPLACE "\"" "\\\"" _arg "${_arg}")
string(REPLACE "`" "\\`" _arg "${_arg}")
string(REPLACE "$" "\\$" _arg "${_arg}")
string(REPLACE "\\" "\\\\" _arg "${_arg}")
# A percent sign would be a field code.
string(REPLACE "%" "%%" _arg "${_arg}")
set(PELKO_EXEC "\"${_arg}\"")
