# FIFO decoding throughput: averaged and raw decoding of a 24-channel stream served by the
# scripted QuickUSB library, against memcpy of the same bytes.
if(NOT TARGET scripted_quickusb)
  add_library(scripted_quickusb SHARED "${CMAKE_SOURCE_DIR}/tests/tolmar2/scriptedquickusb.cpp")
  target_link_libraries(scripted_quickusb PRIVATE quickusb_api)
endif()
add_executable(fifo_bench fifo_bench.cpp "${CMAKE_SOURCE_DIR}/tests/tolmar2/scriptedboard.cpp")
target_include_directories(fifo_bench PRIVATE "${CMAKE_SOURCE_DIR}/tests/tolmar2")
target_link_libraries(fifo_bench PRIVATE tolmar2 tolmar2_internal benchmark::benchmark
                      benchmark::benchmark_main ${CMAKE_DL_LIBS})
add_dependencies(fifo_bench scripted_quickusb)
target_compile_definitions(fifo_bench PRIVATE
  SCRIPTED_LIBRARY_PATH="$<TARGET_FILE:scripted_quickusb>")
