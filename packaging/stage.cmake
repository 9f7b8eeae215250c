# cmake -P stage.cmake: lays out what the installer and the release archive ship.
#   -DBIN=<win32 build dir> -DSTAGE=<out dir> -DOBJCOPY=<objcopy> -DMONITOR=<KESTRO_monitor.exe>
#   -DREADME=<LEEME.txt> -DSYMBOLS=<dir for the .debug files> -DRELEASE=<1.0.4>
#   -DHEADER=<kestro_records.h> -DCHECKER=<viewer_check.exe> -DTIME=<SOURCE_DATE_EPOCH>
# STAGE/plugin is what `cmake --install` lays out, with the module stripped of debug information;
# the symbols go to SYMBOLS/<file>.debug and the stripped file names them (.gnu_debuglink), so a
# crash address in the shipped module can be looked up against the build's own symbols.
# STAGE/installer holds the viewer check the installer carries; STAGE/release the archive's tree,
# with a SHA256SUMS of its files. Every file and folder under STAGE gets the time TIME: the
# installer stores the times of the files it packs, and the archive those of its entries.
include(${CMAKE_CURRENT_LIST_DIR}/sha256sums.cmake)
# objcopy writes a new PE header: with SOURCE_DATE_EPOCH set it keeps that time, else it writes
# the time of the copy.
set(ENV{SOURCE_DATE_EPOCH} ${TIME})
file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BIN} --prefix ${STAGE}/plugin
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmake --install ${BIN} failed")
endif()
file(MAKE_DIRECTORY ${SYMBOLS})

# Strips FILE in place, keeping its symbols in SYMBOLS/<name>.debug.
function(strip_keeping_symbols file)
  get_filename_component(name ${file} NAME)
  set(debug ${SYMBOLS}/${name}.debug)
  execute_process(COMMAND ${OBJCOPY} --only-keep-debug ${file} ${debug} RESULT_VARIABLE failed)
  if(NOT failed)
    execute_process(COMMAND ${OBJCOPY} --strip-debug --strip-unneeded --add-gnu-debuglink=${debug} ${file}
                    RESULT_VARIABLE failed)
  endif()
  if(failed)
    message(FATAL_ERROR "stripping ${file} failed")
  endif()
endfunction()

strip_keeping_symbols(${STAGE}/plugin/kestro_bimvision_32.dll)

# The release archive's tree: one top-level folder holding the module's files under plugins\,
# the monitor, the integrator's header (only here: the installer does not install it) and the
# text.
set(tree ${STAGE}/release/kestro_bimvision-${RELEASE}-win32)
file(MAKE_DIRECTORY ${tree}/plugins/kestro_bimvision_data ${tree}/monitor ${tree}/include)
file(COPY ${STAGE}/plugin/kestro_bimvision_32.dll DESTINATION ${tree}/plugins)
file(COPY ${STAGE}/plugin/kestro_bimvision_data/kestro.ico DESTINATION ${tree}/plugins/kestro_bimvision_data)
file(COPY ${MONITOR} DESTINATION ${tree}/monitor)
strip_keeping_symbols(${tree}/monitor/KESTRO_monitor.exe)
file(COPY ${HEADER} DESTINATION ${tree}/include)

# The text as Notepad shows it on any Windows: UTF-8 with a byte-order mark, CR LF line ends.
file(READ ${README} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)
file(WRITE ${tree}/LEEME.txt "${bom}${text}")

# The archive's own SHA256SUMS: every other file it holds.
file(GLOB_RECURSE shipped RELATIVE ${tree} ${tree}/*)
kb_write_sha256sums(${tree}/SHA256SUMS ${tree} ${shipped})

file(MAKE_DIRECTORY ${STAGE}/installer)
file(COPY ${CHECKER} DESTINATION ${STAGE}/installer)

execute_process(COMMAND find ${STAGE} -exec touch -h -d @${TIME} {} +
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "setting the time of the files in ${STAGE} failed")
endif()
