# The FPGA board behind the emulated module: configuration, register block, read-back, faults.
kalder_add_test(vsensor_board_test
  SOURCES boardtest.cpp vsensorfixture.cpp
  LIBS vsensor)
target_compile_definitions(vsensor_board_test PRIVATE
  FIRMWARE_SOURCE_DIR="${CMAKE_SOURCE_DIR}/tolmar2/firmware")
