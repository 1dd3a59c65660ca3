# Turns net/keys/packet_keys.txt (the packet key and the scramble table, shared with the
# simulators) into the generated header net/packet_keys_gen.h of the core library. The file is
# checked here, so a key of the wrong length or with characters outside its classes stops the
# configure step instead of producing a library that cannot talk to anyone.
set(KORVEN_PACKET_KEYS_FILE ${CMAKE_SOURCE_DIR}/net/keys/packet_keys.txt)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KORVEN_PACKET_KEYS_FILE})

file(STRINGS ${KORVEN_PACKET_KEYS_FILE} _pk_key_lines REGEX "^packet_key=")
file(STRINGS ${KORVEN_PACKET_KEYS_FILE} _pk_scr_lines REGEX "^scramble_key=")
list(LENGTH _pk_key_lines _pk_n1)
list(LENGTH _pk_scr_lines _pk_n2)
if(NOT _pk_n1 EQUAL 1 OR NOT _pk_n2 EQUAL 1)
  message(FATAL_ERROR "${KORVEN_PACKET_KEYS_FILE}: needs exactly one packet_key= and one scramble_key= line")
endif()
string(SUBSTRING "${_pk_key_lines}" 11 -1 _pk_key)
string(SUBSTRING "${_pk_scr_lines}" 13 -1 _pk_scr)
string(LENGTH "${_pk_key}" _pk_key_len)
if(NOT _pk_key_len EQUAL 128 OR NOT _pk_key MATCHES "^[A-Za-z0-9!%&()*+,./:<>?@^_|~-]+$")
  message(FATAL_ERROR "${KORVEN_PACKET_KEYS_FILE}: packet_key must be 128 characters of A-Z a-z 0-9 !%&()*+,-./:<>?@^_|~")
endif()
if(NOT _pk_scr MATCHES "^[0-9A-Fa-f]+$")
  message(FATAL_ERROR "${KORVEN_PACKET_KEYS_FILE}: scramble_key must be 32 hexadecimal digits")
endif()
string(LENGTH "${_pk_scr}" _pk_scr_len)
if(NOT _pk_scr_len EQUAL 32)
  message(FATAL_ERROR "${KORVEN_PACKET_KEYS_FILE}: scramble_key must be 32 hexadecimal digits")
endif()

string(HEX "${_pk_key}" _pk_key_hex)
string(REGEX REPLACE "(..)" "0x\\1," KORVEN_PACKET_KEY_BYTES "${_pk_key_hex}")
string(REGEX REPLACE "(..)" "0x\\1," KORVEN_SCRAMBLE_KEY_BYTES "${_pk_scr}")
configure_file(${CMAKE_SOURCE_DIR}/net/keys/packet_keys_gen.h.in
               ${CMAKE_BINARY_DIR}/generated/net/packet_keys_gen.h @ONLY)
target_include_directories(korven_core PRIVATE ${CMAKE_BINARY_DIR}/generated)
