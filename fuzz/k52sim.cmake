# Outside input of k52sim: its command line and control lines, and whatever a
# client sends it over the keyboard's socket.
k52_fuzz(k52sim_command_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/k52sim_command_fuzz.cpp LIBS k52_sim_k52sim)
k52_fuzz(k52sim_link_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/k52sim_link_fuzz.cpp LIBS k52_sim_k52sim)
