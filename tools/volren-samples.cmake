# The sample volumes in <build>/samples, written by volren-samples. They depend
# on the tool's source only, so a change elsewhere in the library, which relinks
# the tool, does not write them again.
set(VOLREN_SAMPLES_DIR ${CMAKE_BINARY_DIR}/samples)
set(VOLREN_SAMPLE_FILES ${VOLREN_SAMPLES_DIR}/head256.dat ${VOLREN_SAMPLES_DIR}/small64.dat
    ${VOLREN_SAMPLES_DIR}/head.tf ${VOLREN_SAMPLES_DIR}/ct.tf ${VOLREN_SAMPLES_DIR}/mri.tf
    ${VOLREN_SAMPLES_DIR}/vessels256.dat ${VOLREN_SAMPLES_DIR}/vessels.tf)
add_custom_command(
  OUTPUT ${VOLREN_SAMPLE_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VOLREN_SAMPLES_DIR}
  COMMAND $<TARGET_FILE:volren-samples> ${VOLREN_SAMPLES_DIR}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/volren-samples.cpp
  COMMENT "Writing the sample volumes into ${VOLREN_SAMPLES_DIR}")
add_custom_target(volren_samples ALL DEPENDS ${VOLREN_SAMPLE_FILES})
# Installed where the program looks for the transfer function of a scan it opens.
install(FILES ${VOLREN_SAMPLE_FILES} DESTINATION share/volren/samples)
