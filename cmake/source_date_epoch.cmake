# KB_SOURCE_DATE_EPOCH: the one time the shipped files carry (seconds since 1970, UTC), so that two
# builds of one commit give the same bytes (reproducible-builds.org's SOURCE_DATE_EPOCH):
#   1. SOURCE_DATE_EPOCH from the environment, when set;
#   2. else the time of the last commit (git log -1 --format=%ct);
#   3. else, outside a git checkout, the modification time of the top CMakeLists.txt: a tree
#      unpacked from `git archive` has the commit's time on every file.
# The linker writes it into the PE headers of the shipped programs (kb_stamp_with_source_date) and
# the packaging gives it to every file the installer and the archive hold.
# A new commit makes CMake configure again (git's log of HEAD is a configure dependency), so the
# next build stamps the new time.

set(KB_SOURCE_DATE_EPOCH_FROM "")
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(KB_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(KB_SOURCE_DATE_EPOCH_FROM "the environment's SOURCE_DATE_EPOCH")
else()
  find_program(KB_GIT git)
  if(KB_GIT)
    execute_process(COMMAND ${KB_GIT} -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE git_failed ERROR_QUIET)
    if(NOT git_failed AND commit_time MATCHES "^[0-9]+$")
      set(KB_SOURCE_DATE_EPOCH ${commit_time})
      set(KB_SOURCE_DATE_EPOCH_FROM "the last commit")
      execute_process(COMMAND ${KB_GIT} -C ${PROJECT_SOURCE_DIR} rev-parse --path-format=absolute --git-path logs/HEAD
                      OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(head_log AND EXISTS "${head_log}")
        set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${head_log}")
      endif()
    endif()
  endif()
  if(NOT KB_SOURCE_DATE_EPOCH_FROM)
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt KB_SOURCE_DATE_EPOCH "%s" UTC)
    set(KB_SOURCE_DATE_EPOCH_FROM "the time of CMakeLists.txt (git found no commit: not a git checkout, or one git may not read)")
  endif()
endif()
if(NOT KB_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds since 1970, not \"${KB_SOURCE_DATE_EPOCH}\"")
endif()
message(STATUS "Time stamp of the shipped files: ${KB_SOURCE_DATE_EPOCH}, from ${KB_SOURCE_DATE_EPOCH_FROM}")
# For the check that builds everything again (packaging/tests/rebuild_test.py).
file(WRITE ${CMAKE_BINARY_DIR}/source_date_epoch.txt "${KB_SOURCE_DATE_EPOCH}\n")

# Links TARGET with SOURCE_DATE_EPOCH in the linker's environment: GNU ld then writes it as the
# time stamp of the PE header and of the export directory (the header's checksum follows from the
# bytes). The value is on the link command line, so a new one links the target again.
function(kb_stamp_with_source_date target)
  foreach(lang C CXX)
    set_property(TARGET ${target} PROPERTY ${lang}_LINKER_LAUNCHER
                 ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${KB_SOURCE_DATE_EPOCH})
  endforeach()
endfunction()
