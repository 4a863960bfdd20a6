# The board's FIFO stream and the plasma model (internal classes of the virtual sensor).
kalder_add_test(vsensor_stream_test
  SOURCES streamtest.cpp
  LIBS vsensor)
target_include_directories(vsensor_stream_test PRIVATE "${CMAKE_SOURCE_DIR}/vsensor/src")
