if(TARGET calibrate)
  rawdat_gtest(test_calibrate calibrate calibrate)
endif()
