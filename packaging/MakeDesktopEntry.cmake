# Runs at install time: writes the desktop entry from its template with the executable's final
# path in Exec, quoted and escaped as the desktop entry format requires when it needs to be.
# In: MURLEX_TEMPLATE, MURLEX_OUTPUT, CMAKE_INSTALL_PREFIX.
set(exec "${CMAKE_INSTALL_PREFIX}/bin/murlex")
if(exec MATCHES "[^A-Za-z0-9_./+=,:@-]")
  # Inside double quotes \ " ` $ take a backslash; then the string value doubles every backslash.
  string(REPLACE "\\" "\\\\" exec "${exec}")
  string(REPLACE "\"" "\\\"" exec "${exec}")
  string(REPLACE "`" "\\`" exec "${exec}")
  string(REPLACE "$" "\\$" exec "${exec}")
  set(exec "\"${exec}\"")
  string(REPLACE "\\" "\\\\" exec "${exec}")
endif()
string(REPLACE "%" "%%" MURLEX_EXEC "${exec}")
configure_file("${MURLEX_TEMPLATE}" "${MURLEX_OUTPUT}" @ONLY)
