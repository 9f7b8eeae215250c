# Read by ctest after every test is defined (see CMakeLists.txt beside this file).
if(DEFINED ENV{KB_CTEST_TIME_LIMITS} AND EXISTS "$ENV{KB_CTEST_TIME_LIMITS}")
  include("$ENV{KB_CTEST_TIME_LIMITS}")
endif()
