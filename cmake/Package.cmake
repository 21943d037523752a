# Driver packages are laid out in the build tree exactly as SteamVR expects them:
#   <root>/tarvolt_rq508/bin/<linux64|win64>/driver_tarvolt_rq508.<so|dll>
# pkg/ holds the product build, pkg-sim/ the build whose radio is the simulated one.
set(TARVOLT_PACKAGE_ROOT ${CMAKE_BINARY_DIR}/pkg)
set(TARVOLT_SIM_PACKAGE_ROOT ${CMAKE_BINARY_DIR}/pkg-sim)

# What lands in pkg/ ships, so its link writes the linker's map to linkmaps/<target>.map: the
# test of the notices reads from it the libraries of others linked into what ships.
set(TARVOLT_LINK_MAP_DIR ${CMAKE_BINARY_DIR}/linkmaps)
function(tarvolt_place_in_package target root)
  set(dir ${root}/${TARVOLT_DRIVER_NAME}/bin/${TARVOLT_PLATFORM_DIR})
  set_target_properties(${target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${dir}
    RUNTIME_OUTPUT_DIRECTORY ${dir})
  if(root STREQUAL TARVOLT_PACKAGE_ROOT)
    file(MAKE_DIRECTORY ${TARVOLT_LINK_MAP_DIR})
    target_link_options(${target} PRIVATE LINKER:-Map=${TARVOLT_LINK_MAP_DIR}/${target}.map)
  endif()
endfunction()

# Copies a built program next to the driver of a package (the relay and its helpers).
function(tarvolt_copy_into_package target program root)
  set(dir ${root}/${TARVOLT_DRIVER_NAME}/bin/${TARVOLT_PLATFORM_DIR})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${program}> ${dir}/
    VERBATIM)
endfunction()

# The manifest and resources go into every package root of the build, so that the simulated
# runtime, the demo and the tests see a package as complete as the one that ships. The resources
# folder is replaced as a whole: a file removed from package/ must not linger in a package.
file(GLOB_RECURSE TARVOLT_PACKAGE_FILES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/package/driver.vrdrivermanifest
  ${CMAKE_SOURCE_DIR}/package/resources/*)
set(tarvolt_package_commands)
foreach(root ${TARVOLT_PACKAGE_ROOT} ${TARVOLT_SIM_PACKAGE_ROOT})
  set(dir ${root}/${TARVOLT_DRIVER_NAME})
  list(APPEND tarvolt_package_commands
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir}/resources
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/package/resources ${dir}/resources
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/package/driver.vrdrivermanifest ${dir}/)
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package_resources.stamp
  ${tarvolt_package_commands}
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/package_resources.stamp
  DEPENDS ${TARVOLT_PACKAGE_FILES}
  COMMENT "Laying the driver manifest and resources into the build's packages"
  VERBATIM)
add_custom_target(package_resources ALL DEPENDS ${CMAKE_BINARY_DIR}/package_resources.stamp)
