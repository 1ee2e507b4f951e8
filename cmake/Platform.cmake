# System libraries each platform's back ends need.
if(WIN32)
  target_link_libraries(postrine_runtime PUBLIC kernel32 user32 advapi32 crypt32)
  target_link_libraries(postrine_mailclient_net PUBLIC ws2_32 secur32 crypt32 bcrypt advapi32)
  # The client certificate's key, used in its store.
  target_link_libraries(postrine_mailclient_oauth PUBLIC crypt32 ncrypt bcrypt)
else()
  find_package(Threads REQUIRED)
  target_link_libraries(postrine_runtime PUBLIC ${CMAKE_DL_LIBS} Threads::Threads)
  # TLS and the SASL digests come from OpenSSL.
  find_package(OpenSSL 3 REQUIRED)
  target_link_libraries(postrine_mailclient_net PUBLIC OpenSSL::SSL OpenSSL::Crypto)
  # International domain names for the addresses.
  target_link_libraries(postrine_mailclient_mime PUBLIC idn2)
endif()

# The registry, where the log finds the web server's log directory.
if(WIN32)
  target_link_libraries(postrine_log PUBLIC advapi32)
endif()

# nlohmann/json (header-only) for the token endpoint's answers, the
# failure challenges of a bearer logon and Graph's answers. A directory of the build tree holds
# only a link to it, so that the Windows build finds it without taking the
# host's other headers.
find_path(POSTRINE_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include /usr/local/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT POSTRINE_NLOHMANN_DIR)
  message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev")
endif()
set(json_include ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${json_include})
if(NOT EXISTS ${json_include}/nlohmann)
  file(CREATE_LINK ${POSTRINE_NLOHMANN_DIR}/nlohmann ${json_include}/nlohmann SYMBOLIC COPY_ON_ERROR)
endif()
target_include_directories(postrine_mailclient_oauth SYSTEM PRIVATE ${json_include})
target_include_directories(postrine_mailclient_smtp SYSTEM PRIVATE ${json_include})
target_include_directories(postrine_mailclient_graph SYSTEM PRIVATE ${json_include})
