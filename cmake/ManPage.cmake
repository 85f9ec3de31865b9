# Run by the build (cmake -P): the manual page from the built command's help texts, and the
# package's changelog, each compressed as Debian installs them (gzip -9n: no name or time).
#   -DOMBRIX=path/to/ombrix -DVERSION=x.y.z -DCHANGELOG=packaging/changelog -DOUT_DIR=dir
execute_process(COMMAND ${OMBRIX} --man-page ${VERSION} OUTPUT_FILE ${OUT_DIR}/ombrix.1 RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ombrix --man-page failed: ${status}")
endif()
foreach(pair "${OUT_DIR}/ombrix.1;${OUT_DIR}/ombrix.1.gz" "${CHANGELOG};${OUT_DIR}/changelog.gz")
  list(GET pair 0 from)
  list(GET pair 1 to)
  execute_process(COMMAND gzip -9nc ${from} OUTPUT_FILE ${to} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${from} failed: ${status}")
  endif()
endforeach()
