# The message files shipped with the host tool: copied next to emhost at build time, so that the
# module finds them in the directory of the process's executable.
set(EM_MESSAGE_FILE_NAMES ERRMSG.XML EVENTMSG.XML)
set(EM_MESSAGE_FILE_OUTPUTS "")
foreach(name ${EM_MESSAGE_FILE_NAMES})
  set(src ${CMAKE_SOURCE_DIR}/data/messages/${name})
  set(dst ${CMAKE_BINARY_DIR}/${name})  # emhost is built into the top of the build tree
  add_custom_command(
    OUTPUT ${dst}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${src} ${dst}
    DEPENDS ${src}
    COMMENT "Message file ${name} beside emhost"
    VERBATIM)
  list(APPEND EM_MESSAGE_FILE_OUTPUTS ${dst})
endforeach()
add_custom_target(em_message_files DEPENDS ${EM_MESSAGE_FILE_OUTPUTS})
add_dependencies(emhost em_message_files)
