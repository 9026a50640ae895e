include(${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake)
rebounce_host_header_library(CLI11::CLI11 CLI)
