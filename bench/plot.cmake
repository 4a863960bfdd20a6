# Trace plot redraw with 20 channels, offscreen (needs its own main for the QApplication).
if(TARGET kalder_plots)
  add_executable(plot_bench plot_bench.cpp)
  target_link_libraries(plot_bench PRIVATE kalder_plots benchmark::benchmark)
endif()
