# zlib reads back what the screenshot writer produced.
find_package(ZLIB REQUIRED)
target_link_libraries(${KELM_TEST_TARGET} PRIVATE ZLIB::ZLIB)
