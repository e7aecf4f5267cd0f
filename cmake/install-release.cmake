# Runs at install time, after the programs and the user's guide are in
# place: strips the programs (the build tree keeps their debug information)
# and writes SHA256SUMS over the installed files, in the format that
# `sha256sum -c` checks. ULVEX_STRIP is empty where the compiler keeps debug
# information out of the program (MSVC: a separate PDB).
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(programs UlvexCmdLine.exe UlvexCheck.exe)
set(files ${programs} usage.md)

if(ULVEX_STRIP)
  foreach(program IN LISTS programs)
    # NOTE: GNU strip writes the current time into the PE header unless
    # SOURCE_DATE_EPOCH gives it one; 0 is what the linker leaves there.
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=0
                            "${ULVEX_STRIP}" "${root}/${program}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "stripping ${root}/${program} failed: ${status}")
    endif()
  endforeach()
endif()

set(sums "")
foreach(name IN LISTS files)
  file(SHA256 "${root}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
message(STATUS "Installing: ${root}/SHA256SUMS")
file(WRITE "${root}/SHA256SUMS" "${sums}")
