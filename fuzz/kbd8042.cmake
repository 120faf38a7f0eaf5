# Port accesses and host bytes into the simulated keyboard controller, keyboard
# and card terminal line.
k52_fuzz(kbd8042_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/kbd8042_fuzz.cpp LIBS k52_sim_kbd8042)
