# Station solve for a levelled instrument (rotation about the vertical axis,
# horizontal shift, optional scale; height as weighted mean offset), a
# library of its own so it can be tested apart from the server.
find_package(Eigen3 3.3 REQUIRED NO_MODULE)

add_library(stadiolink_station STATIC
    ${CMAKE_CURRENT_LIST_DIR}/stationsolver.h
    ${CMAKE_CURRENT_LIST_DIR}/stationsolver.cpp)
target_include_directories(stadiolink_station PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(stadiolink_station PUBLIC Qt5::Core PRIVATE Eigen3::Eigen)
