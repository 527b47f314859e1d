# cmake -DFILE=path -DLIMIT=bytes -P check_size.cmake: fails when the file is larger.
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
  # Usual cause: iostreams or std::filesystem in code linked into the program; each pulls
  # in about 800 KB of the C++ library's locale code. Use C stdio there.
  message(FATAL_ERROR "${FILE} is ${size} bytes, more than ${LIMIT} (iostreams or "
                      "std::filesystem in the program's code?)")
endif()
message(STATUS "${FILE}: ${size} bytes (limit ${LIMIT})")
