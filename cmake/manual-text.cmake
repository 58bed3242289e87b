# cmake -DGROFF=<groff> -DPAGE=<page.1> -DTEXT=<file.txt> -P manual-text.cmake
#
# Writes a manual page as plain text, as Windows users read it in Notepad:
# no bold, underline or escape sequences, no word broken across lines, and
# CR LF line ends.
execute_process(
  COMMAND "${GROFF}" -man -Tascii -P-cbou -rHY=0 "${PAGE}"
  OUTPUT_VARIABLE text
  COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${TEXT}" "${text}")
