# The detector's settings as a profile, without widgets: the mapping the command-line tool
# shares with the window.
add_library(detector_settings STATIC
  ${CMAKE_CURRENT_LIST_DIR}/detectorsettings.cpp ${CMAKE_CURRENT_LIST_DIR}/detectorsettings.h)
target_include_directories(detector_settings PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(detector_settings PUBLIC hart profile Qt5::Core)
