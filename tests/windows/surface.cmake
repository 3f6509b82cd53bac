# The Direct2D surface in a window of its own (no program under test).
add_library(tixabo_surface_window STATIC surface_window.cpp)
target_link_libraries(tixabo_surface_window PUBLIC tixabo_warnings user32)

tixabo_add_test_program(surface_tests
  SOURCES surface_test.cpp
  LIBRARIES tixabo_surface tixabo_surface_window tixabo_test_driver
  LABELS display)

# Time of one real Direct2D pass; run by hand under Wine, see README.
add_executable(surface_bench surface_bench.cpp)
target_link_libraries(surface_bench PRIVATE tixabo_surface tixabo_surface_window tixabo_warnings)

# The clock's drawing calls without the clock, for memory growth; run by hand.
add_executable(drawing_soak drawing_soak.cpp)
target_link_libraries(drawing_soak PRIVATE tixabo_surface_window tixabo_warnings d2d1 dwrite ole32 psapi)
