# The board's sync input, output voltages and record of blocks.
kalder_add_test(vsensor_sync_outputs_test
  SOURCES syncoutputstest.cpp vsensorfixture.cpp
  LIBS vsensor)
target_compile_definitions(vsensor_sync_outputs_test PRIVATE
  FIRMWARE_SOURCE_DIR="${CMAKE_SOURCE_DIR}/tolmar2/firmware")
