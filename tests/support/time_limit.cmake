# The tests' time factor, the one place it is set: how many times slower than the host build this
# build runs the suite's heaviest tests (ThreadSanitizer up to 10 times, on the brightness restart
# path; qemu-arm about as slow; AddressSanitizer about 3 times), times 2 for a machine running
# twice as many jobs as it has cores. time_limit.cpp scales the tests' own limits by it, and
# tests/CMakeLists.txt ctest's time-out of each test.
if(VYR_TSAN OR CMAKE_CROSSCOMPILING)
  set(VYR_TIME_FACTOR 20)
elseif(VYR_SANITIZE)
  set(VYR_TIME_FACTOR 6)
else()
  set(VYR_TIME_FACTOR 2)
endif()
