# The wizard driver that the whole-migration tests and the benchmark share: the real MainWindow worked
# through its widgets by line commands. Included by tests/e2e/extra.cmake and bench/CMakeLists.txt.
if(NOT TARGET movanta_wizarddriver)
    add_library(movanta_wizarddriver STATIC
        ${CMAKE_SOURCE_DIR}/tests/support/driver/wizarddriver.cpp
        ${CMAKE_SOURCE_DIR}/tests/support/driver/wizarddriver.h)
    target_include_directories(movanta_wizarddriver PUBLIC ${CMAKE_SOURCE_DIR}/tests/support/driver)
    target_link_libraries(movanta_wizarddriver PUBLIC movanta_gui Qt5::Test)
endif()
