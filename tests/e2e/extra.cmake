# The whole-migration test starts two copies of this program, one per computer.
add_executable(movanta_e2e_peer ${CMAKE_CURRENT_SOURCE_DIR}/e2e/migrationpeer.cpp)
target_link_libraries(movanta_e2e_peer PRIVATE movanta_lib Qt5::Test)
if(TARGET test_e2e_migration)
    add_dependencies(test_e2e_migration movanta_e2e_peer)
    target_compile_definitions(test_e2e_migration PRIVATE MOVANTA_E2E_PEER="$<TARGET_FILE:movanta_e2e_peer>")
endif()
