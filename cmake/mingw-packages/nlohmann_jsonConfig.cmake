include(${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake)
rebounce_host_header_library(nlohmann_json::nlohmann_json nlohmann)
