# Project-wide warning set; RQ_WERROR turns them into errors (CI does).
add_library(rq_warnings INTERFACE)
target_compile_options(rq_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Woverloaded-virtual -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough)
if(RQ_WERROR)
  target_compile_options(rq_warnings INTERFACE -Werror)
endif()

# rq_target(<name>) applies the project's warnings to a target of our own.
function(rq_target name)
  target_link_libraries(${name} PRIVATE rq_warnings)
endfunction()

# rq_library(<name> <sources...>): a static library of the project. A library whose
# folder has no sources yet still builds, so that later work only adds files.
function(rq_library name)
  set(sources ${ARGN})
  if(NOT sources)
    set(sources ${CMAKE_BINARY_DIR}/rq_empty.cpp)
    if(NOT EXISTS ${sources})
      file(WRITE ${sources} "// Placeholder for a library without sources.\n")
    endif()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  rq_target(${name})
endfunction()
