# The card server's readers of client input and of its error text file: command
# lines, ciphertext of encrypted sessions, and "SCARD.ERR".
foreach(target chiphost_command_fuzz chiphost_crypt_fuzz chiphost_errfile_fuzz)
  k52_fuzz(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp LIBS k52_chiphost_core)
  target_compile_definitions(${target} PRIVATE
    K52_CHIPHOST_CORE_DIR="${PROJECT_SOURCE_DIR}/chiphost/core")
endforeach()
