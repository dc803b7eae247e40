# orvane_header_libs: CLI11 and nlohmann-json, for the tool and the emulated
# unit. Both are header-only. A cross build must not see the host's
# /usr/include (its C library headers are not the target's), so their own
# folders are copied into the build tree and only that is added.
if(CMAKE_CROSSCOMPILING)
  set(header_libs_dir ${CMAKE_BINARY_DIR}/header-libs)
  foreach(library CLI nlohmann)
    if(NOT EXISTS ${ORVANE_HOST_INCLUDE_DIR}/${library})
      message(FATAL_ERROR "${ORVANE_HOST_INCLUDE_DIR}/${library} not found: install libcli11-dev and nlohmann-json3-dev")
    endif()
    file(COPY ${ORVANE_HOST_INCLUDE_DIR}/${library} DESTINATION ${header_libs_dir})
  endforeach()
  add_library(orvane_header_libs INTERFACE)
  target_include_directories(orvane_header_libs SYSTEM INTERFACE ${header_libs_dir})
else()
  find_package(CLI11 CONFIG QUIET)
  find_package(nlohmann_json 3 CONFIG QUIET)
  if(NOT CLI11_FOUND OR NOT nlohmann_json_FOUND)
    message(FATAL_ERROR "CLI11 or nlohmann-json not found: install the Debian packages libcli11-dev and nlohmann-json3-dev")
  endif()
  add_library(orvane_header_libs INTERFACE)
  target_link_libraries(orvane_header_libs INTERFACE CLI11::CLI11 nlohmann_json::nlohmann_json)
endif()
