# Fails when a layer reaches the wrong way: no file under the folders LAYERS (a
# list, relative to SOURCE) may include from the folders FORBIDDEN (a regex of
# folder names), nor may their CMakeLists.txt link those folders' libraries
# (rq_<folder>). The virtual board must not share the program's chip data, and the
# program must not depend on the daemon or the board it talks to over a socket.
# Run as: cmake -DSOURCE=<source> -DLAYERS="hw;devices" -DFORBIDDEN="driver|sim" -P CheckLayerIncludes.cmake
foreach(layer IN LISTS LAYERS)
  file(GLOB_RECURSE files ${SOURCE}/${layer}/*.h ${SOURCE}/${layer}/*.cpp ${SOURCE}/${layer}/*.in)
  if(NOT files)
    message(FATAL_ERROR "no sources found under '${SOURCE}/${layer}'")
  endif()
  foreach(file IN LISTS files)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "[\"<](\\.\\./)*(${FORBIDDEN})/")
        string(APPEND offences "\n  ${file}: ${line}")
      endif()
    endforeach()
  endforeach()
  file(GLOB_RECURSE build_files ${SOURCE}/${layer}/CMakeLists.txt)
  foreach(build_file IN LISTS build_files)
    file(STRINGS ${build_file} links REGEX "rq_(${FORBIDDEN})([^a-z_]|$)")
    foreach(line IN LISTS links)
      string(APPEND offences "\n  ${build_file}: ${line}")
    endforeach()
  endforeach()
endforeach()
if(offences)
  message(FATAL_ERROR "${LAYERS} must not depend on ${FORBIDDEN}:${offences}")
endif()
