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

# The transfer function presets in <build>/presets, installed beside the samples.
set(VOLREN_PRESETS_DIR ${CMAKE_BINARY_DIR}/presets)
set(VOLREN_PRESET_NAMES "CT bone" "CT skin and bone" "CT soft tissue" "CT lung" "CT vessels with contrast"
    "CT maximum intensity" "MR default" "MR brain" "MR maximum intensity" "Greyscale")
set(VOLREN_PRESET_FILES ${VOLREN_PRESETS_DIR}/presets.ini)
foreach(name ${VOLREN_PRESET_NAMES})
  list(APPEND VOLREN_PRESET_FILES "${VOLREN_PRESETS_DIR}/${name}.tf")
endforeach()
add_custom_command(
  OUTPUT ${VOLREN_PRESET_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VOLREN_PRESETS_DIR}
  COMMAND $<TARGET_FILE:volren-samples> --presets ${VOLREN_PRESETS_DIR}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/volren-samples.cpp
  COMMENT "Writing the transfer function presets into ${VOLREN_PRESETS_DIR}")
add_custom_target(volren_presets ALL DEPENDS ${VOLREN_PRESET_FILES})
install(FILES ${VOLREN_PRESET_FILES} DESTINATION share/volren/presets)
