# cmake -DSOURCE=<checkout> -DOUT=<header> -P CommitId.cmake
# Writes OUT defining COSMOS_BACKUP_COMMIT: the checkout's commit, with "+changes" when the work
# tree differs from it, or "unknown" outside a git checkout. OUT is rewritten only when that
# text changes, so that a build of an unchanged tree recompiles nothing.
execute_process(COMMAND git -C ${SOURCE} rev-parse --short=12 HEAD
  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR commit STREQUAL "")
  set(commit unknown)
else()
  execute_process(COMMAND git -C ${SOURCE} diff --quiet HEAD -- RESULT_VARIABLE changed ERROR_QUIET)
  if(changed)
    string(APPEND commit "+changes")
  endif()
endif()
set(text "#define COSMOS_BACKUP_COMMIT \"${commit}\"\n")
set(old "")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUT} "${text}")
endif()
