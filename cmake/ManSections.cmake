# Turns the subsections help2man makes of rebounce-cli --help-all into
# manual-page sections: the subcommand blocks become COMMANDS, the exit
# statuses EXIT STATUS.   cmake -DPAGE=<file> -P ManSections.cmake
file(READ ${PAGE} text)
string(FIND "${text}" ".SS \"rebounce-cli " first)
if(first GREATER -1)
  string(SUBSTRING "${text}" 0 ${first} head)
  string(SUBSTRING "${text}" ${first} -1 tail)
  set(text "${head}.SH COMMANDS\n${tail}")
endif()
string(REGEX REPLACE "(\\.SS \"rebounce-cli [^\n\"]*):\"" "\\1\"" text "${text}")
string(REPLACE ".SS \"Exit status:\"" ".SH \"EXIT STATUS\"" text "${text}")
file(WRITE ${PAGE} "${text}")
