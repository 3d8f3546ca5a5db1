# The whole-migration tests start copies of this program, one per computer.
include(${CMAKE_SOURCE_DIR}/tests/support/driver/driver.cmake)
add_executable(movanta_e2e_peer ${CMAKE_CURRENT_SOURCE_DIR}/e2e/migrationpeer.cpp)
target_link_libraries(movanta_e2e_peer PRIVATE movanta_wizarddriver movanta_gui Qt5::Test)
foreach(test test_e2e_migration test_e2e_killed test_e2e_hostile test_e2e_fidelity test_e2e_capture)
    if(TARGET ${test})
        add_dependencies(${test} movanta_e2e_peer)
        target_compile_definitions(${test} PRIVATE MOVANTA_E2E_PEER="$<TARGET_FILE:movanta_e2e_peer>")
    endif()
endforeach()

# A migration worked only through the desktop's accessibility bus (Xvfb, a private session bus, at-spi2-core,
# pyatspi), in a private network namespace like every other test.
add_test(NAME e2e.accessibility
         COMMAND ${CMAKE_SOURCE_DIR}/tests/support/netns-run.sh sh ${CMAKE_CURRENT_SOURCE_DIR}/e2e/accessibility.sh
                 $<TARGET_FILE:movanta>)
set_tests_properties(e2e.accessibility PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT ${MOVANTA_TEST_TIMEOUT} LABELS e2e)
# The capture test plays a sender built from the protocol alone, too.
if(TARGET test_e2e_capture)
    target_sources(test_e2e_capture PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/connect/scriptedsender.cpp)
    target_include_directories(test_e2e_capture PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/connect)
endif()
