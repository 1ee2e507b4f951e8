# System libraries each platform's back ends need.
if(WIN32)
  target_link_libraries(postrine_runtime PUBLIC kernel32 user32)
  target_link_libraries(postrine_mailclient PUBLIC ws2_32 secur32 crypt32 bcrypt advapi32)
else()
  find_package(Threads REQUIRED)
  target_link_libraries(postrine_runtime PUBLIC ${CMAKE_DL_LIBS} Threads::Threads)
  # TLS and the SASL digests come from OpenSSL.
  find_package(OpenSSL 3 REQUIRED)
  target_link_libraries(postrine_mailclient PUBLIC OpenSSL::SSL OpenSSL::Crypto idn2)
endif()

# The registry, where the log finds the web server's log directory.
if(WIN32)
  target_link_libraries(postrine_log PUBLIC advapi32)
endif()
