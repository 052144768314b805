# The Windows build, included from the top-level CMakeLists.txt when WIN32:
# qz4826s1.exe on the chip vendor's D2XX driver DLL, loaded at run time, and
# the Windows-side tests. Builds natively (Visual Studio, MSYS2/MinGW) or
# cross with cmake/mingw-w64-x86_64.cmake.

if(TARGET qz4826s1)
  message(FATAL_ERROR "On Windows qz4826s1 uses the D2XX driver DLL, not libftdi1: "
                      "configure without -DQZ_WITH_LIBFTDI=ON")
endif()

# The D2XX DLL layer: no vendor SDK needed, the DLL is found at run time.
add_library(qzftdll STATIC chip/win32/ftdll.cpp)
target_include_directories(qzftdll PUBLIC chip)

add_executable(qz4826s1 app/main.cpp)
target_link_libraries(qz4826s1 PRIVATE qzcore qzftdll)
install(TARGETS qz4826s1 RUNTIME DESTINATION bin)

if(QZ_BUILD_TESTS)
  add_subdirectory(tests/win32)
endif()
