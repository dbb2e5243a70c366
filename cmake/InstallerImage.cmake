# Host programs of this build (tools/release builds them with the build machine's compiler).
set(TAVRO_HOST_TOOLS_DIR "${CMAKE_BINARY_DIR}/host-tools")
set(TAVRO_LOAD_CONFIG_TOOL "${TAVRO_HOST_TOOLS_DIR}/bin/tavro-load-config")

# tavro_installer_image(<target>): a build of the installer as it ships. Its load
# configuration (src/app/load_config_win.cpp) is linked in, and once linked, and before
# anything signs it, data directory 10 is pointed at it: GNU ld does not do that itself.
function(tavro_installer_image target)
  target_link_options(${target} PRIVATE -Wl,--require-defined=_load_config_used)
  add_dependencies(${target} tavro_release_host)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${TAVRO_LOAD_CONFIG_TOOL}" --remove-on-failure "$<TARGET_FILE:${target}>"
    VERBATIM)
endfunction()
