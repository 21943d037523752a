# Driver packages are laid out in the build tree exactly as SteamVR expects them:
#   <root>/tarvolt_rq508/bin/<linux64|win64>/driver_tarvolt_rq508.<so|dll>
# pkg/ holds the product build, pkg-sim/ the build whose radio is the simulated one.
set(TARVOLT_PACKAGE_ROOT ${CMAKE_BINARY_DIR}/pkg)
set(TARVOLT_SIM_PACKAGE_ROOT ${CMAKE_BINARY_DIR}/pkg-sim)

function(tarvolt_place_in_package target root)
  set(dir ${root}/${TARVOLT_DRIVER_NAME}/bin/${TARVOLT_PLATFORM_DIR})
  set_target_properties(${target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${dir}
    RUNTIME_OUTPUT_DIRECTORY ${dir})
endfunction()

# Copies a built program next to the driver of a package (the relay and its helpers).
function(tarvolt_copy_into_package target program root)
  set(dir ${root}/${TARVOLT_DRIVER_NAME}/bin/${TARVOLT_PLATFORM_DIR})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${program}> ${dir}/
    VERBATIM)
endfunction()
