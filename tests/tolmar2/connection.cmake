# Configuration block and connection tests.
kalder_add_test(tolmar2_configblock_test
  SOURCES configblocktest.cpp
  LIBS tolmar2 tolmar2_internal)

kalder_add_test(tolmar2_connection_test
  SOURCES connectiontest.cpp
  LIBS tolmar2 tolmar2_internal vsensor)
target_compile_definitions(tolmar2_connection_test PRIVATE
  FIRMWARE_SOURCE_DIR="${CMAKE_SOURCE_DIR}/tolmar2/firmware"
  VSENSOR_LIBRARY="$<TARGET_FILE:vsensor>")
