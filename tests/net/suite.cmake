# The network suite includes its shared helpers as "test_support.h" and its own as "net_test_util.h".
target_include_directories(${SUITE_TARGET} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support ${CMAKE_CURRENT_SOURCE_DIR}/net)
