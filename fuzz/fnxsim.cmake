# fnxsim's command line and control lines, and the firmware's frame parser
# against arbitrary host bytes.
k52_fuzz(fnxsim_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/fnxsim_fuzz.cpp LIBS k52_sim_fnx)
