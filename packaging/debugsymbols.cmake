# Runs at install time for the "debug" component: keeps the debug information of
# each binary (given in OXLENPAY_BINARIES, from the build tree) under
# lib/debug/.build-id/, where gdb looks for it by the binary's build id. The
# binaries themselves are installed stripped.
foreach(binary IN LISTS OXLENPAY_BINARIES)
    execute_process(COMMAND readelf -n ${binary} OUTPUT_VARIABLE notes COMMAND_ERROR_IS_FATAL ANY)
    if(NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
        message(FATAL_ERROR "${binary} has no build id")
    endif()
    set(target_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/debug/.build-id/${CMAKE_MATCH_1}")
    file(MAKE_DIRECTORY ${target_dir})
    execute_process(COMMAND objcopy --only-keep-debug --compress-debug-sections ${binary}
                            ${target_dir}/${CMAKE_MATCH_2}.debug COMMAND_ERROR_IS_FATAL ANY)
    file(CHMOD ${target_dir}/${CMAKE_MATCH_2}.debug PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
