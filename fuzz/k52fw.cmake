# Outside input of the K52 terminal firmware: the host's frames as the serial
# line and the keyboard wire deliver them, mixed with keypad keys and time.
k52_fuzz(k52fw_firmware_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/k52fw_firmware_fuzz.cpp LIBS k52_sim_k52fw)
k52_fuzz(k52serial_options_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/k52serial_options_fuzz.cpp LIBS k52_sim_k52fw)
