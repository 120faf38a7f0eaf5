# Device controls, reads, writes, cancels and line traffic against the
# serial port driver on the virtual clock.
k52_fuzz(serial_port_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_port_fuzz.cpp LIBS k52_nt_serial)
