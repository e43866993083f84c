if(RQ_SANITIZE AND RQ_TSAN)
  message(FATAL_ERROR "RQ_SANITIZE and RQ_TSAN cannot be combined: ThreadSanitizer runs alone")
endif()
if(RQ_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
# Races between our threads. Qt and the other system libraries are not built with
# it: tests/tsan.supp lists what TSan cannot see through in them.
if(RQ_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
