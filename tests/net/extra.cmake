# Every net test shares the loopback helpers.
file(GLOB net_test_helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/net/loopback.cpp
                                               ${CMAKE_CURRENT_SOURCE_DIR}/net/loopback.h)
file(GLOB net_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/net/tst_*.cpp)
foreach(src ${net_tests})
    get_filename_component(stem ${src} NAME_WE)
    string(REGEX REPLACE "^tst_" "" name ${stem})
    if(TARGET test_net_${name})
        target_sources(test_net_${name} PRIVATE ${net_test_helpers})
    endif()
endforeach()
