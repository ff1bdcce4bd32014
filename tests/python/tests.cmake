# The Python module under pytest, against rawdat-convert.
if(TARGET rawdat_python AND TARGET rawdat-convert)
  add_test(NAME python.rawdat
           COMMAND ${RAWDAT_PYTHON_EXECUTABLE} -m pytest -q -p no:cacheprovider ${CMAKE_CURRENT_LIST_DIR})
  set_tests_properties(python.rawdat PROPERTIES
    LABELS python
    ENVIRONMENT "PYTHONPATH=$<TARGET_FILE_DIR:rawdat_python>;PYTHONDONTWRITEBYTECODE=1;RAWDAT_CONVERT=$<TARGET_FILE:rawdat-convert>;RAWDAT_SAMPLES=${RAWDAT_SAMPLES}")
endif()
