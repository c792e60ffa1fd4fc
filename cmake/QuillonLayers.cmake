# Layer-scoped include roots.
#
# Sources include each other by layer path ("device/DeviceLibrary.h",
# "station/Station.h", "app/station/MainForm.h"). Instead of putting all of src/ on
# the include path, each library exports a root of its own in the build tree that
# holds one link named after its layer. A target therefore sees the headers of the
# libraries it links and no others: an include against the layer order fails to
# compile.
function(quillon_layer_includes target layer)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  get_filename_component(parent ${root}/${layer} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${layer})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${layer} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
