# SHA256SUMS: one line "<sha256>  <path>" per file, sorted by path, '/' between folders, LF line
# ends: what `sha256sum -c SHA256SUMS` reads, and what a user compares with the hash that
# `certutil -hashfile FILE SHA256` or PowerShell's `Get-FileHash FILE` prints on Windows.
#   cmake -DDIR=<folder> -DFILES=<path,path,...> -DOUT=<SHA256SUMS> -P sha256sums.cmake
# (paths relative to DIR), or include() it and call kb_write_sha256sums.

function(kb_write_sha256sums out dir)
  set(files ${ARGN})
  list(SORT files)
  set(text "")
  foreach(file IN LISTS files)
    if(NOT EXISTS ${dir}/${file})
      message(FATAL_ERROR "SHA256SUMS: ${dir}/${file} is missing")
    endif()
    file(SHA256 ${dir}/${file} hash)
    string(APPEND text "${hash}  ${file}\n")
  endforeach()
  file(WRITE ${out} "${text}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  string(REPLACE "," ";" FILES "${FILES}")
  kb_write_sha256sums(${OUT} ${DIR} ${FILES})
endif()
