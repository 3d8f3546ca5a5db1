# The receiver tests share the scripted sender.
set(receiver_test_helpers ${CMAKE_CURRENT_SOURCE_DIR}/connect/scriptedsender.cpp
                          ${CMAKE_CURRENT_SOURCE_DIR}/connect/scriptedsender.h
                          ${CMAKE_CURRENT_SOURCE_DIR}/connect/pagesignals.cpp
                          ${CMAKE_CURRENT_SOURCE_DIR}/connect/pagesignals.h)
foreach(name receiverpairing receiverfiles receiverscreens receivertrust keepawake receiverentries receiversecure)
    if(TARGET test_connect_${name})
        target_sources(test_connect_${name} PRIVATE ${receiver_test_helpers})
    endif()
endforeach()
