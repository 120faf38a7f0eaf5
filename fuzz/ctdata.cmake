k52_fuzz(ctdata_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/ctdata_fuzz.cpp
  LIBS k52_ctbridge_core k52_pcsc_fake)
k52_fuzz(shell_command_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/shell_command_fuzz.cpp
  LIBS k52_shell_parse)
