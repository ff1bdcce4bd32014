# The bundled sample files are exactly what the sample generator writes today.
if(TARGET rawdat-make-samples)
  add_test(NAME samples_are_current
           COMMAND ${CMAKE_COMMAND} -DGENERATOR=$<TARGET_FILE:rawdat-make-samples>
                   -DSAMPLES=${CMAKE_SOURCE_DIR}/samples -DOUT=${CMAKE_CURRENT_BINARY_DIR}/samples-now
                   -P ${CMAKE_CURRENT_LIST_DIR}/check_samples.cmake)
endif()
