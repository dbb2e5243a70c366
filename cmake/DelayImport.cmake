# tavro_delay_import(<target> <name> <dll>): links <target> to <dll> through a delay-import
# library, made here from mingw-w64's import library lib<name>.a. The loader then resolves
# the DLL on its first call instead of while it maps the program, so the program's code runs
# before it: the code loads it from System32 first (PreloadDelayLoadedSystemDlls), and with
# it what it imports by name, which a system DLL's own imports would otherwise be looked up
# beside the program on a loader that keeps no KnownDLLs list.
function(tavro_delay_import target name dll)
  find_library(import_library_${name} NAMES lib${name}.a REQUIRED)
  set(import_library ${import_library_${name}})
  set(folder ${CMAKE_BINARY_DIR}/delay-import)
  set(def ${folder}/${name}.def)
  set(library ${folder}/lib${name}_delay.a)
  if(NOT EXISTS ${library} OR ${import_library} IS_NEWER_THAN ${library})
    file(MAKE_DIRECTORY ${folder})
    execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${import_library}
                    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "[0-9a-f]+ T [A-Za-z_][A-Za-z0-9_@]*" symbols "${symbols}")
    list(TRANSFORM symbols REPLACE "^[0-9a-f]+ T " "")
    list(REMOVE_DUPLICATES symbols)
    list(LENGTH symbols count)
    if(count EQUAL 0)
      message(FATAL_ERROR "${import_library} exports no functions")
    endif()
    list(JOIN symbols "\n" exports)
    file(WRITE ${def} "LIBRARY ${dll}\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${dll} --output-delaylib ${library}
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
  target_link_libraries(${target} PUBLIC ${library})
endfunction()
