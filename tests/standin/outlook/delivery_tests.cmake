lettercast_test(standin_delivery_tests delivery_test.cpp ${CMAKE_SOURCE_DIR}/standin/outlook/delivery.cpp)
