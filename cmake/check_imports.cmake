# cmake -DFILE=exe -DOBJDUMP=objdump -P check_imports.cmake: fails when the program imports
# a DLL that is not part of Windows (a self-contained varnel.exe needs no other file).
execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
set(system advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll shell32.dll
           user32.dll)
foreach(line ${lines})
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  list(FIND system ${dll} found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${FILE} imports ${dll}, which Windows does not ship")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
