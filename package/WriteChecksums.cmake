# Install step: writes SHA256SUMS.txt beside the README, one line
# "<sum>  <path>" per program in the format `sha256sum -c` reads.
set(programs kestrin/kestrin.exe kestrin/kestrin_install.exe kestrin/bin/httpget.exe)
set(sums "")
foreach(program IN LISTS programs)
  if(NOT EXISTS "${KESTRIN_SUMS_ROOT}/${program}")
    message(FATAL_ERROR "not installed: ${program}")
  endif()
  file(SHA256 "${KESTRIN_SUMS_ROOT}/${program}" sum)
  string(APPEND sums "${sum}  ${program}\n")
endforeach()
file(WRITE "${KESTRIN_SUMS_ROOT}/SHA256SUMS.txt" "${sums}")
