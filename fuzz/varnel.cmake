# The reader driver's readers of terminal bytes: the capability answer alone,
# and whole conversations with a terminal that answers anything.
k52_fuzz(varnel_capabilities_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/varnel_capabilities_fuzz.cpp
         LIBS varnel)
k52_fuzz(varnel_terminal_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/varnel_terminal_fuzz.cpp
         LIBS varnel vrlpcsc k52_sim_kbdstack k52_sim_line_terminal)
