# Writes the manual page of emhost from its own help text: cmake -DEMHOST=... -DVERSION=... -DOUT=... -P
execute_process(COMMAND ${EMHOST} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(help STREQUAL "")
  message(FATAL_ERROR "emhost --help printed nothing (${rc})")
endif()
string(REPLACE "\\" "\\\\" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(TIMESTAMP today "%Y-%m-%d" UTC)
file(WRITE ${OUT} ".TH EMHOST 1 \"${today}\" \"em_tarnel ${VERSION}\" \"User Commands\"
.SH NAME
emhost \\- substitute host for the EM_TARNEL module: runs it against simulated lower modules
.SH SYNOPSIS
.B emhost
[\\fIoptions\\fR] \\fBdemo\\fR | \\fBrun\\fR \\fISCENARIO.json\\fR | \\fBshell\\fR [\\fISCENARIO.json\\fR]
.SH DESCRIPTION
emhost loads the module library, implements the host interface and answers the module's requests
from the simulated lower modules of a scenario file. Scenarios shipped with the package are in
/usr/share/em_tarnel/scenarios; their format is described in /usr/share/doc/em-tarnel/SCENARIOS.md.
.SH USAGE
.nf
${help}.fi
.SH FILES
.TP
.I /etc/em_tarnel/registry.reg
trace settings of the module (or the file named by \\fBEM_TARNEL_REGISTRY\\fR)
.TP
.I /usr/lib/em_tarnel/ERRMSG.XML, /usr/lib/em_tarnel/EVENTMSG.XML
message files, found in the directory of the executable
")
